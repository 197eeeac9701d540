// The Windows start-up, with kernel32 standing in where the test needs a
// Windows that neither Wine nor the runners are.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/startup-win32.h"

namespace {

template <typename Function>
FARPROC as_farproc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// What the stand-ins were asked, in order.
std::string calls;
BOOL default_directories_work;

BOOL WINAPI set_default_dll_directories(DWORD flags) {
  calls += flags == LOAD_LIBRARY_SEARCH_SYSTEM32 ? "system32 only;" : "other;";
  return default_directories_work;
}

BOOL WINAPI set_dll_directory(LPCSTR folder) {
  calls += !folder ? "undone;" : *folder ? "other;"
                                         : "narrowed;";
  return TRUE;
}

// Windows 7 without its 2011 loader update, and any later Windows.
FARPROC windows_7(LPCSTR name) {
  return std::strcmp(name, "SetDllDirectoryA") == 0 ? as_farproc(set_dll_directory) : nullptr;
}

FARPROC updated(LPCSTR name) {
  return std::strcmp(name, "SetDefaultDllDirectories") == 0
             ? as_farproc(set_default_dll_directories)
             : windows_7(name);
}

TEST(LibrarySearch, WithoutTheCallTheDllDirectoryIsNarrowedAndUndoneForTheCommand) {
  const struct {
    KernelLookup lookup;
    BOOL works;
    const char* calls;
  } cases[] = {
      {updated, TRUE, "system32 only;"},
      {updated, FALSE, "system32 only;narrowed;undone;narrowed;"},
      {windows_7, TRUE, "narrowed;undone;narrowed;"},
  };
  for (const auto& c : cases) {
    calls.clear();
    default_directories_work = c.works;
    restrict_library_search(c.lookup);
    run_command("exit 0");
    EXPECT_EQ(calls, c.calls);
  }
}

// The console handler's parts: a clock the test sets, a command during which
// the event comes, a sleep and an end that are only noted, a hang-up that is
// counted and requested now.
DWORD now, event, slept;
BOOL answer_during;
UINT ended_with;
int hang_ups;
DWORD WINAPI clock_now() { return now; }
int meet_the_event(const char*) { return answer_during = console_event(event), 0; }
int command(const char*) { return 0; }
void WINAPI note_sleep(DWORD milliseconds) { slept += milliseconds; }
void WINAPI note_end(UINT code) { ended_with = code; }
void hang_up() { ++hang_ups, hang_up_requested(); }

TEST(ConsoleEvents, InterruptsAreTheCommandsTillASecondAfterItElseTheyEndTheRunWith1) {
  enum {
    during,
    a_second_after,
    later,
    dialing,
    a_second_after_a_hang_up,
  };
  // The event, its moment, -g with a live connection; the answer, the exit
  // code (0: the run goes on), the hang-ups asked for and the wait before
  // the end, which gives a hang-up requested its 3 s.
  const struct {
    DWORD event;
    int moment;
    bool g;
    BOOL answer;
    UINT ended_with;
    int hang_ups;
    DWORD slept;
  } cases[] = {
      {CTRL_C_EVENT, during, true, TRUE, 0, 0, 0},
      {CTRL_BREAK_EVENT, a_second_after, true, TRUE, 0, 0, 0},
      {CTRL_CLOSE_EVENT, during, true, TRUE, 1, 1, 3000},
      {CTRL_CLOSE_EVENT, later, false, TRUE, 1, 0, 0},
      {CTRL_C_EVENT, later, true, TRUE, 1, 0, 0},
      {CTRL_BREAK_EVENT, later, false, TRUE, 1, 0, 0},
      {CTRL_LOGOFF_EVENT, later, true, FALSE, 0, 0, 0},
      // During the dial the event cancels it; an interrupt lets the run go
      // on to its failed dial.
      {CTRL_C_EVENT, dialing, true, TRUE, 0, 1, 0},
      {CTRL_CLOSE_EVENT, dialing, false, TRUE, 1, 1, 3000},
      {CTRL_BREAK_EVENT, a_second_after_a_hang_up, false, TRUE, 1, 0, 2000},
  };
  const ConsoleParts system_parts = console_parts;
  for (const auto& c : cases) {
    event = c.event, now += 10000, ended_with = 0, hang_ups = 0, slept = 0;
    console_parts = {clock_now, c.moment == during ? meet_the_event : command, note_sleep, note_end};
    at_console_close(c.g ? hang_up : nullptr);
    run_command("quorvel-test");
    if (c.moment == a_second_after_a_hang_up) hang_up_requested();
    now += c.moment == a_second_after ? 999 : 1000;
    if (c.moment == dialing) cancel_dial_on_interrupt(hang_up);
    EXPECT_EQ(c.moment == during ? answer_during : console_event(c.event), c.answer);
    if (c.moment == dialing) {
      EXPECT_TRUE(cancel_dial_on_interrupt(nullptr));
    }
    EXPECT_EQ(ended_with, c.ended_with) << "event " << c.event << " at " << c.moment;
    EXPECT_EQ(hang_ups, c.hang_ups) << "event " << c.event << " at " << c.moment;
    EXPECT_EQ(slept, c.slept) << "event " << c.event << " at " << c.moment;
  }
  console_parts = system_parts;
  at_console_close(nullptr);
}

TEST(CommandLine, OnlyTheTailMustBeInTheCodePageExactly) {
  const struct {
    const wchar_t* line;
    UINT code_page;
    const char* tail;  // null: refused
  } cases[] = {
      {L"quorvel.exe -s", 1252, "-s"},
      // A folder of a name the code page lacks, as a user's may be.
      {L"\"C:\\Users\\\u0141ukasz\\quorvel.exe\" -s", 1252, "-s"},
      {L"\"C:\\Users\\\"\u0141ukasz\\quorvel.exe -s", 1252, "-s"},
      {L"quorvel -e B\u00fcro", 1252,
       "-e B\xfc"
       "ro"},
      // A best fit would make an option of a fullwidth hyphen.
      {L"quorvel -u bob\u3000\uff0dc\u3000ver", 1252, nullptr},
      // UTF-8 as the ANSI code page: every character, but no lone surrogate.
      {L"\u0141ukasz\\quorvel -e B\u00fcro\u3000", CP_UTF8, "-e B\xc3\xbcro\xe3\x80\x80"},
      {L"quorvel -p s3cr3t\xd800", CP_UTF8, nullptr},
  };
  for (const auto& c : cases) {
    std::string tail;
    EXPECT_EQ(tail_in_code_page(c.line, c.code_page, tail), c.tail != nullptr);
    if (c.tail) {
      EXPECT_EQ(tail, c.tail);
    }
  }
}

}  // namespace
