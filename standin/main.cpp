// standin: the local SQL Server stand-in.
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "standin/host/host.h"

int main(int argc, char** argv) {
  // Whatever the stand-in writes is its user's only: the files it makes itself are created so
  // anyway, and this covers the short-lived ones SQLite makes on its own (a super-journal).
  ::umask(077);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const standin::host::CommandLine cl = standin::host::parseCommandLine(args);
  if (cl.help) {
    std::cout << standin::host::usageText();
    return 0;
  }
  if (cl.version) {
    std::cout << standin::host::versionText();
    return 0;
  }
  if (!cl.error.empty()) {
    std::cerr << "standin: " << cl.error << "\n\n" << standin::host::usageText();
    return 2;
  }
  // Signals are taken by sigwait below, not by the server threads.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    standin::host::Host host(cl.options);
    host.start();
    const auto& opts = host.options();
    std::cout << "standin data folder: " << opts.dataDir.string() << "\n";
    std::cout << "standin emulates SQL Server " << host.engine().version().year << " ("
              << host.engine().version().versionString() << ") as " << host.engine().serverName() << "\n";
    if (opts.saPassword.empty()) std::cout << "sa password: " << host.engine().saPassword() << "\n";
    for (std::size_t i = 1; i < host.instances().size(); ++i) {
      const auto& inst = host.instances()[i];
      std::cout << "standin instance " << inst.name << " listening on 127.0.0.1:" << inst.server->port()
                << "\n";
    }
    if (opts.ssrpPort != 0) {
      if (host.ssrpPort() != 0) {
        std::cout << "standin answering SSRP on UDP 127.0.0.1:" << host.ssrpPort() << "\n";
      } else {
        std::cout << "standin: no SSRP responder (" << host.ssrpError() << ")\n";
      }
    }
    if (host.instances().front().server->listensOnIpv6())
      std::cout << "standin also listening on [::1]:" << host.port() << "\n";
    std::cout << "standin listening on 127.0.0.1:" << host.port() << std::endl;
    int sig = 0;
    sigwait(&stopSignals, &sig);
    std::cout << "standin stopping" << std::endl;
    host.stop();
  } catch (const std::exception& e) {
    std::cerr << "standin: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
