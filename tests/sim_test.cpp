// The simulated RAS service on its own: shared by many processes at once,
// and faced with damaged files.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ras/rasapi.h"

namespace {

struct Service {
  void* library = nullptr;
  RasEnumConnectionsA_t enumerate = nullptr;
  RasGetConnectStatusA_t get_status = nullptr;
  RasHangUpA_t hang_up = nullptr;
  RasDialA_t dial = nullptr;
  RasGetErrorStringA_t error_string = nullptr;
};

template <typename T>
T symbol(void* library, const char* name) {
  return reinterpret_cast<T>(dlsym(library, name));
}

Service load() {
  Service s;
  s.library = dlopen(RASSIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!s.library) return s;
  s.enumerate = symbol<RasEnumConnectionsA_t>(s.library, "RasEnumConnectionsA");
  s.get_status = symbol<RasGetConnectStatusA_t>(s.library, "RasGetConnectStatusA");
  s.hang_up = symbol<RasHangUpA_t>(s.library, "RasHangUpA");
  s.dial = symbol<RasDialA_t>(s.library, "RasDialA");
  s.error_string = symbol<RasGetErrorStringA_t>(s.library, "RasGetErrorStringA");
  return s;
}

DWORD dial(const Service& s, const char* entry, HRASCONN* connection) {
  RASDIALPARAMSA params{};
  params.dwSize = sizeof params;
  std::strcpy(params.szEntryName, entry);
  *connection = 0;
  return s.dial(nullptr, nullptr, &params, 1, nullptr, connection);
}

DWORD list(const Service& s, std::vector<HRASCONN>& handles) {
  std::vector<RASCONNA> records(1000);
  records[0].dwSize = sizeof(RASCONNA);
  DWORD bytes = static_cast<DWORD>(records.size() * sizeof(RASCONNA));
  DWORD count = 0;
  DWORD result = s.enumerate(records.data(), &bytes, &count);
  handles.clear();
  for (DWORD i = 0; result == 0 && i < count; ++i) handles.push_back(records[i].hrasconn);
  return result;
}

class SimulatedService : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rassim-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    folder_ = pattern;
    setenv("RASSIM_STATE", (folder_ + "/ras.state").c_str(), 1);
    write("book", "office\nstuck state=authenticating\n");
    setenv("RASSIM_PHONEBOOK", (folder_ + "/book").c_str(), 1);
    service_ = load();
    ASSERT_TRUE(service_.library) << dlerror();
  }
  void TearDown() override {
    if (service_.library) dlclose(service_.library);
    std::filesystem::remove_all(folder_);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << text;
  }
  std::string text_of(DWORD code) {
    char text[256] = {};
    return service_.error_string(code, text, sizeof text) == 0 ? text : "";
  }

  std::string folder_;
  Service service_;
};

TEST_F(SimulatedService, TwentyProcessesAtOnceLoseNothingAndInventNothing) {
  const int processes = 20, dials = 10;
  int kept[2];
  ASSERT_EQ(pipe(kept), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < processes; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Each process dials, queries and lists; it hangs up every other line
      // and reports the handles it keeps.
      close(kept[0]);
      for (int d = 0; d < dials; ++d) {
        HRASCONN connection;
        if (dial(service_, "office", &connection) != 0 || !connection) _exit(2);
        RASCONNSTATUSA status{};
        status.dwSize = sizeof status;
        if (service_.get_status(connection, &status) != 0 ||
            status.rasconnstate != RASCS_Connected)
          _exit(3);
        std::vector<HRASCONN> all;
        if (list(service_, all) != 0) _exit(4);
        if (d % 2) {
          if (service_.hang_up(connection) != 0) _exit(5);
        } else if (::write(kept[1], &connection, sizeof connection) != sizeof connection) {
          _exit(6);
        }
      }
      _exit(0);
    }
    children.push_back(child);
  }
  close(kept[1]);
  std::multiset<HRASCONN> reported;
  HRASCONN connection;
  while (read(kept[0], &connection, sizeof connection) == sizeof connection)
    reported.insert(connection);
  close(kept[0]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }

  std::vector<HRASCONN> listed;
  ASSERT_EQ(list(service_, listed), 0u);
  EXPECT_EQ(reported.size(), static_cast<std::size_t>(processes * dials / 2));
  EXPECT_EQ(std::multiset<HRASCONN>(listed.begin(), listed.end()), reported);
  EXPECT_EQ(std::set<HRASCONN>(listed.begin(), listed.end()).size(), listed.size());

  // The state left behind serves the next run.
  HRASCONN next;
  ASSERT_EQ(dial(service_, "office", &next), 0u);
  EXPECT_EQ(reported.count(next), 0u);
  ASSERT_EQ(list(service_, listed), 0u);
  EXPECT_EQ(listed.size(), reported.size() + 1);
}

TEST_F(SimulatedService, ADamagedStateFileIsAnErrorWithAText) {
  const char* damaged[] = {"", "garbage\n", "next 3\nconn 1 8192 0 0ms 0 0 0 office\n",
                           "next 3\nconn 1 8192 0 0ms 0 0 0 office\nend 2\n", "next 3\nend 0"};
  for (const char* state : damaged) {
    write("ras.state", state);
    std::vector<HRASCONN> listed;
    DWORD result = list(service_, listed);
    EXPECT_NE(result, 0u) << "state: '" << state << "'";
    EXPECT_FALSE(text_of(result).empty()) << result;
    HRASCONN connection;
    EXPECT_EQ(dial(service_, "office", &connection), result);
  }
}

TEST_F(SimulatedService, ADamagedPhoneBookIsAnErrorWithAText) {
  struct Case {
    const char* book;  // null: the file named is missing
    DWORD result;
  };
  const Case cases[] = {
      {"office colour=blue\n", 625},
      {"office drop=soon\n", 625},
      {"office\noffice\n", 625},
      {"office fail=\n", 625},
      {"", 623},
      {nullptr, 621},
  };
  for (const Case& c : cases) {
    if (c.book)
      write("book", c.book);
    else
      std::remove((folder_ + "/book").c_str());
    HRASCONN connection;
    DWORD result = dial(service_, "office", &connection);
    EXPECT_EQ(result, c.result) << "book: '" << (c.book ? c.book : "(missing)") << "'";
    EXPECT_FALSE(text_of(result).empty()) << result;
  }
}

}  // namespace
