// The main driver: reads the options one at a time, acting on each as it
// comes, then dials, reports, runs the exec command and hangs up if asked.
#include <cstdlib>
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
        finish_answer(0);
      case 's':
        say("Connection Status: " + IsRasConnected());
        finish_answer(0);
      case 'k':
        std::exit(hangup_all() ? 0 : 1);
      case 'V':
        say(version_line());
        finish_answer(0);
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

  // Values are one word and quotes join none: a value that opens a quote
  // it does not close was cut at a blank, and would dial, log on or run
  // something else than was meant.
  const struct {
    const char* setting;
    const std::string& value;
  } values[] = {
      {"entry name", entry_name},
      {"phone number", phone_number},
      {"user name", user_name},
      {"password", password},
      {"domain", domain},
      {"callback number", callback_number},
      {"command", command},
  };
  for (const auto& v : values) {
    if (v.value[0] == '"' && (v.value.size() < 2 || v.value.back() != '"')) {
      say("");
      say(std::string("FATAL ERROR: the ") + v.setting +
          " was cut at a blank: a value is one word, and quotes do not join words!!");
      say("");
      std::exit(1);
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
  std::exit(hang_up_at_exit && !hangup(connection) ? 1 : 0);
}
