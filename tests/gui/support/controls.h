// Finding a form's controls as a user's tools do: by their objectName, the names the system gives
// its controls. A control that is missing fails the test at once.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <memory>
#include <stdexcept>
#include <string>

namespace bvtest {

template <typename W>
W* control(const QObject* form, const char* name) {
  W* found = form->findChild<W*>(QString::fromLatin1(name));
  if (found == nullptr) {
    ADD_FAILURE() << "the form has no control named " << name << " of the expected kind";
    throw std::runtime_error(std::string("no control ") + name);
  }
  return found;
}

template <typename W, typename Form>
W* control(const std::unique_ptr<Form>& form, const char* name) {
  return control<W>(form.get(), name);
}

template <typename W>
W* control(const QObject& form, const char* name) {
  return control<W>(&form, name);
}

}  // namespace bvtest
