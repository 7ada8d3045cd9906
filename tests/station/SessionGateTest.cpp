// The gate between the window and the session: events held while a journal
// call waits come out afterwards, in the order they came, each once.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "station/SessionGate.h"

namespace {

struct GateFixture {
  std::vector<std::function<void()>> later;  // what the event loop would run next
  std::string log;
  station::SessionGate gate{[this](std::function<void()> task) { later.push_back(std::move(task)); }};

  std::function<void()> Event(char name) {
    return [this, name] { log += name; };
  }
  void RunLater() {
    auto tasks = std::move(later);
    later.clear();
    for (auto& task : tasks) task();
  }
};

TEST(SessionGate, HeldEventsComeAfterTheWaitInOrder) {
  GateFixture f;
  f.gate.Pass(f.Event('a'));
  EXPECT_EQ(f.log, "a") << "an idle gate passes at once";
  {
    const station::SessionGate::Hold waiting(f.gate);
    EXPECT_TRUE(f.gate.Holding());
    f.gate.Pass(f.Event('b'));
    {
      const station::SessionGate::Hold nested(f.gate);
      f.gate.Pass(f.Event('c'));
    }
    f.gate.Pass(f.Event('d'));
    EXPECT_EQ(f.log, "a") << "nothing while a call waits";
    EXPECT_TRUE(f.later.empty()) << "the inner wait's end frees nothing";
  }
  EXPECT_EQ(f.log, "a") << "not inside the handler whose call just returned";
  ASSERT_EQ(f.later.size(), 1u);
  // An event that comes before the event loop gave the held ones takes them
  // along first.
  f.gate.Pass(f.Event('e'));
  EXPECT_EQ(f.log, "abcde");
  f.RunLater();
  EXPECT_EQ(f.log, "abcde") << "each once";
}

TEST(SessionGate, AHeldEventThatWaitsKeepsTheRestBehindIt) {
  GateFixture f;
  std::function<void()> waitingEvent = [&f] {
    f.log += 'x';
    const station::SessionGate::Hold waiting(f.gate);
    f.gate.Pass(f.Event('z'));  // arrives during this event's own wait
  };
  {
    const station::SessionGate::Hold waiting(f.gate);
    f.gate.Pass(waitingEvent);
    f.gate.Pass(f.Event('y'));
  }
  f.RunLater();
  EXPECT_EQ(f.log, "xyz") << "y came before z, each once";
  f.RunLater();
  EXPECT_EQ(f.log, "xyz");
}

}  // namespace
