# The server browser: the Qt-free server enumerator (the SSRP browser everywhere, SQL-DMO
# first on Windows) and the dialog TfrmServerList, which joins the program's forms.
set(BV_SERVER_ENUM_SOURCES
  server_enumerator.h server_enumerator.cpp
  ssrp_reply.h ssrp_reply.cpp
  ssrp_socket.h
  ssrp_browser.h ssrp_browser.cpp)
if(WIN32)
  list(APPEND BV_SERVER_ENUM_SOURCES
    sqldmo_win32.h server_enumerator_win32.cpp ssrp_socket_win32.cpp)
else()
  list(APPEND BV_SERVER_ENUM_SOURCES server_enumerator_posix.cpp ssrp_socket_posix.cpp)
endif()

add_library(bv_server_enum STATIC ${BV_SERVER_ENUM_SOURCES})
target_include_directories(bv_server_enum PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
if(WIN32)
  target_compile_definitions(bv_server_enum PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(bv_server_enum PUBLIC ws2_32 ole32 oleaut32 uuid)
endif()
set_target_properties(bv_server_enum PROPERTIES AUTOMOC OFF)  # no Qt here
bv_warnings(bv_server_enum)

if(BRACKENVALE_BUILD_GUI)
  # Part of the forms library, so the main window and main() reach it by its header alone.
  target_sources(bv_forms PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/uServerSelect.h ${CMAKE_CURRENT_SOURCE_DIR}/uServerSelect.cpp)
  target_link_libraries(bv_forms PUBLIC bv_server_enum)
endif()
