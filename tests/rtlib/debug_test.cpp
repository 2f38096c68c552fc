// The debug library: the error-information protocol that gated operations rely on, and the hook
// events forwarded to the host's handler.
#include <gmock/gmock.h>

#include <functional>
#include <thread>

#include "runtime_fixture.h"

namespace {

class ErrorInfoTest : public RuntimeTest {};

TEST_F(ErrorInfoTest, SetClearGetProtocol) {
  EXPECT_EQ(KXoplck_getErrorInfo(), 0);
  KXoplck_setErrorInfo(140, 0);
  EXPECT_NE(KXoplck_getErrorInfo(), 0);
  EXPECT_EQ(kxdbg_error_code(), 140);
  EXPECT_EQ(kxdbg_error_detail(), 0);

  KXoplck_setErrorInfo(150, 2);   // the latest error is the current one
  EXPECT_EQ(kxdbg_error_code(), 150);
  EXPECT_EQ(kxdbg_error_detail(), 2);

  KXoplck_clrErrorInfo();   // clears the current error, not the cycle's record
  EXPECT_EQ(KXoplck_getErrorInfo(), 0);
  EXPECT_EQ(kxdbg_error_code(), 0);
  EXPECT_EQ(kxdbg_cycle_error_count(), 2u);
  EXPECT_EQ(kxdbg_cycle_first_error(), 140);

  KXoplck_setErrorInfo(0, 0);   // even code 0 is something recorded
  EXPECT_NE(KXoplck_getErrorInfo(), 0);

  kxdbg_begin_cycle();
  EXPECT_EQ(KXoplck_getErrorInfo(), 0);
  EXPECT_EQ(kxdbg_cycle_error_count(), 0u);
  EXPECT_EQ(kxdbg_cycle_first_error(), 0);
}

// One error information per process, the running cycle's: a host that runs a cycle on a worker
// thread reads what that cycle recorded once it has joined it.
TEST_F(ErrorInfoTest, HostReadsWhatACycleOnAnotherThreadRecorded) {
  std::thread([] {
    kxdbg_begin_cycle();
    KXoplck_setErrorInfo(151, 3);
  }).join();
  EXPECT_NE(KXoplck_getErrorInfo(), 0);
  EXPECT_EQ(kxdbg_error_code(), 151);
  EXPECT_EQ(kxdbg_error_detail(), 3);
  EXPECT_EQ(kxdbg_cycle_error_count(), 1u);
}

// What the handler saw, in order.
struct Event {
  int32_t type_id;
  void* address;
  int32_t kind;   // 0 for an exit
  EntryPointDescriptor* descriptor;
  bool operator==(const Event&) const = default;
};

class HookTest : public RuntimeTest {
 protected:
  static void KX_CDECL recordEnter(void* user, int32_t typeId, void* address, int32_t kind,
                             EntryPointDescriptor* descriptor) {
    auto* self = static_cast<HookTest*>(user);
    self->events.push_back({typeId, address, kind, descriptor});
    if (self->on_enter) self->on_enter();
  }
  static void KX_CDECL recordExit(void* user, EntryPointDescriptor* descriptor) {
    static_cast<HookTest*>(user)->events.push_back({0, nullptr, 0, descriptor});
  }
  static void KX_CDECL otherEnter(void* user, int32_t typeId, void*, int32_t, EntryPointDescriptor*) {
    static_cast<HookTest*>(user)->other_events.push_back(typeId);
  }
  // The direct form has no user pointer: it finds the test through `current`.
  static inline HookTest* current = nullptr;
  static int32_t KX_STDCALL directEnter(int32_t typeId, void* address, int32_t kind, EntryPointDescriptor* descriptor) {
    recordEnter(current, typeId, address, kind, descriptor);
    return 0;
  }
  static int32_t KX_STDCALL directExit(EntryPointDescriptor* descriptor) {
    recordExit(current, descriptor);
    return 0;
  }
  void SetUp() override {
    RuntimeTest::SetUp();
    current = this;
  }

  std::vector<Event> events;
  std::vector<int32_t> other_events;
  std::function<void()> on_enter;
  EntryPointDescriptor descriptor{};
  uint8_t data[8]{};
};

TEST_F(HookTest, EventsReachTheHandlerUnchanged) {
  kxdbg_set_handler(recordEnter, recordExit, this);
  EXPECT_EQ(KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor), 0);
  EXPECT_EQ(KXoplck_EnterBreakpoint(29, data + 4, KX_EVENT_STEP, &descriptor), 0);
  EXPECT_EQ(KXoplck_ExitBreakpoint(&descriptor), 0);
  EXPECT_EQ(events, (std::vector<Event>{{3, data, 6, &descriptor}, {29, data + 4, 1, &descriptor},
                                        {0, nullptr, 0, &descriptor}}));
  EXPECT_EQ(kxdbg_dropped_event_count(), 0u);
}

TEST_F(HookTest, WithoutHandlerEventsAreCountedAndDropped) {
  EXPECT_EQ(KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor), 0);
  EXPECT_EQ(KXoplck_ExitBreakpoint(&descriptor), 0);
  EXPECT_EQ(kxdbg_dropped_event_count(), 2u);
  kxdbg_set_handler(nullptr, recordExit, this);   // exits only
  KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor);
  KXoplck_ExitBreakpoint(&descriptor);
  EXPECT_EQ(kxdbg_dropped_event_count(), 1u);
  EXPECT_EQ(events, (std::vector<Event>{{0, nullptr, 0, &descriptor}}));
}

TEST_F(HookTest, HandlerMayClearItselfInsideACallback) {
  kxdbg_set_handler(recordEnter, recordExit, this);
  on_enter = [] { kxdbg_set_handler(nullptr, nullptr, nullptr); };
  KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor);
  KXoplck_EnterBreakpoint(13, data, KX_EVENT_STEP, &descriptor);
  KXoplck_ExitBreakpoint(&descriptor);
  EXPECT_EQ(events, (std::vector<Event>{{3, data, 6, &descriptor}}));
  EXPECT_EQ(kxdbg_dropped_event_count(), 2u);
}

TEST_F(HookTest, HandlerMayReplaceItselfInsideACallback) {
  kxdbg_set_handler(recordEnter, recordExit, this);
  on_enter = [this] { kxdbg_set_handler(otherEnter, nullptr, this); };
  KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor);
  KXoplck_EnterBreakpoint(13, data, KX_EVENT_STEP, &descriptor);
  KXoplck_EnterBreakpoint(14, data, KX_EVENT_STEP, &descriptor);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(other_events, (std::vector<int32_t>{13, 14}));
}

// The direct form: the hooks jump to it with their arguments; the two forms replace each other,
// also from inside a callback, and a missing half drops its events in either form.
TEST_F(HookTest, DirectHandlersGetTheEventsAndReplaceAndAreReplacedByTheOtherForm) {
  kxdbg_set_direct_handler(directEnter, directExit);
  EXPECT_EQ(KXoplck_EnterBreakpoint(3, data, KX_EVENT_ENTRY, &descriptor), 0);
  EXPECT_EQ(KXoplck_ExitBreakpoint(&descriptor), 0);
  EXPECT_EQ(events, (std::vector<Event>{{3, data, 6, &descriptor}, {0, nullptr, 0, &descriptor}}));

  on_enter = [this] { kxdbg_set_handler(otherEnter, nullptr, this); };   // direct to user form
  KXoplck_EnterBreakpoint(13, data + 4, KX_EVENT_STEP, &descriptor);
  KXoplck_EnterBreakpoint(14, data, KX_EVENT_STEP, &descriptor);
  KXoplck_ExitBreakpoint(&descriptor);
  EXPECT_EQ(other_events, (std::vector<int32_t>{14}));
  EXPECT_EQ(kxdbg_dropped_event_count(), 1u);

  kxdbg_set_handler(recordEnter, recordExit, this);
  on_enter = [] { kxdbg_set_direct_handler(nullptr, directExit); };   // user form to direct, exits only
  events.clear();
  KXoplck_EnterBreakpoint(15, data, KX_EVENT_ENTRY, &descriptor);
  KXoplck_EnterBreakpoint(16, data, KX_EVENT_ENTRY, &descriptor);
  KXoplck_ExitBreakpoint(&descriptor);
  EXPECT_EQ(events, (std::vector<Event>{{15, data, 6, &descriptor}, {0, nullptr, 0, &descriptor}}));
  EXPECT_EQ(kxdbg_dropped_event_count(), 1u);
}

}  // namespace
