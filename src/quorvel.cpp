// The main driver: reads the options one at a time, acting on each as it
// comes, then dials, reports, runs the exec command and hangs up if asked.
#include <string>

#include "cli/getopt.h"
#include "cli/usage.h"
#include "console.h"
#include "platform/platform.h"
#include "ras/ras.h"

namespace {

// The connection that -g hangs up, should the console close first.
HRASCONN dialed{};
void hang_up_dialed() { request_hangup(dialed); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  std::string entry_name, phone_number, user_name, password, domain, callback_number;
  std::string command;
  bool hang_up_at_exit = false;

  say("");
  say(std::string("quorvel v") + version);
  say("");

  for (;;) {
    int option = cli::getopt(tail, "h?sgkVe:n:u:p:d:b:B:c:");
    if (option == -1) break;
    switch (option) {
      case 'h':
      case '?':
        print_usage();
        finish(0);
      case 's':
        say("Connection Status: " + IsRasConnected());
        finish(0);
      case 'k':
        finish(hangup_all() ? 0 : 1);
      case 'V':
        say(version_line());
        finish(0);
      case 'e':
        entry_name = cli::optarg;
        say("RAS Entry: '" + entry_name + "'");
        break;
      case 'n':
        phone_number = cli::optarg;
        say("Phone    : '" + phone_number + "'");
        break;
      case 'u':
        user_name = cli::optarg;
        say("User     : '" + user_name + "'");
        break;
      case 'p':
        password = cli::optarg;
        say("p: '************'");
        break;
      case 'b':
        callback_number = cli::optarg;
        say("Callback Number: '" + callback_number + "'");
        break;
      case 'd':
        domain = cli::optarg;
        say("Domain   : '" + domain + "'");
        break;
      case 'g':
        hang_up_at_exit = true;
        say("Enabled Hangup at program exit...");
        break;
      case 'c':
        command = cli::optarg;
        say("Command to be Executed: '" + command + "'");
        break;
      default:
        cli::opt_not_found(static_cast<char>(option));
    }
  }

  HRASCONN connection =
      dial(entry_name, phone_number, user_name, password, domain, callback_number);
  if (hang_up_at_exit && connection) {
    dialed = connection;
    at_console_close(hang_up_dialed);
  }
  say("Connection Status: " + IsRasConnected());
  if (!command.empty() && connection) run_command(command);
  finish(hang_up_at_exit && !hangup(connection) ? 1 : 0);
}
