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
  // Still behind the held ones: no overtaking before they are out.
  f.gate.Pass(f.Event('e'));
  ASSERT_EQ(f.later.size(), 1u);
  f.RunLater();
  EXPECT_EQ(f.log, "abcde");
  EXPECT_FALSE(f.gate.Holding());
  f.gate.Pass(f.Event('f'));
  EXPECT_EQ(f.log, "abcdef");
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
