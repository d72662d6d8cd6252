// 32-bit Windows only: with __stdcall the called function removes its own
// arguments from the stack, so a driver entry point called in the wrong form
// (CAN_Init with two arguments where five were pushed, or the other way
// round) leaves the caller's stack pointer off by their difference. The
// stack pointer is measured around each call here, through the driver
// library under each adapter driver's name and through the binding.
#include <gtest/gtest.h>

#include <cstdint>

#include "sim_adapter_fixture.h"

// Pushes `count` 32-bit arguments (args[0] last, as C pushes them), calls
// `fn`, stores its result (eax) in *result and returns how many bytes the
// called function took off the stack: 4 * count for __stdcall, 0 for
// __cdecl. The stack pointer is kept in edi, which every caller-side
// convention preserves, and restored from ebp afterwards.
extern "C" uint32_t StackPopped(void* fn, const uint32_t* args, uint32_t count, uint32_t* result);

__asm__(
    ".text\n"
    ".globl _StackPopped\n"
    "_StackPopped:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl %esp, %edi\n"
    "  call *8(%ebp)\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %esp, %eax\n"
    "  subl %edi, %eax\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

namespace {

using namespace sim_adapter;

struct Call {
  uint32_t popped;
  uint32_t result;
};

Call CallMeasured(void* fn, std::initializer_list<uint32_t> args) {
  Call c{};
  c.popped = StackPopped(fn, args.begin(), uint32_t(args.size()), &c.result);
  return c;
}

uint32_t Addr(const void* p) {
  return uint32_t(reinterpret_cast<uintptr_t>(p));
}

using StdcallStack = SimAdapterTest;

TEST_F(StdcallStack, EveryEntryPointRemovesItsOwnArgumentsUnderEachName) {
  struct Case {
    const char* file;
    bool parallel;
  } cases[] = {
      {can::USB_DRIVER_FILE, false},
      {can::PCI_DRIVER_FILE, false},
      {can::PARALLEL_DRIVER_FILE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    void* lib = platform::LoadLibraryFile(c.file);
    ASSERT_NE(lib, nullptr);
    auto entry = [&](const char* name) {
      void* fn = platform::ResolveEntry(lib, name);
      EXPECT_NE(fn, nullptr) << name;
      return fn;
    };
    Call init = c.parallel ? CallMeasured(entry("CAN_Init"), {SIMCAN_BTR_250K, 0, 5, 0x278, 5})
                           : CallMeasured(entry("CAN_Init"), {SIMCAN_BTR_250K, 0});
    EXPECT_EQ(init.popped, c.parallel ? 20u : 8u);
    EXPECT_EQ(init.result, 0u);
    SimAdapterInfo a = Adapter();
    EXPECT_EQ(a.baudIndex, 1);
    EXPECT_EQ(a.parallelForm, c.parallel ? 1 : 0);
    EXPECT_EQ(a.ioPort, c.parallel ? 0x278u : 0u);

    DriverMsg msg{};
    msg.ID = 0x400 | uint32_t(SLAVE_MAC[1]) << 3 | 7;
    msg.LEN = 7;
    char version[64] = "";
    struct EntryCase {
      const char* name;
      uint32_t argCount;
      uint32_t arg;
      uint32_t result;
    } entries[] = {
        {"CAN_Status", 0, 0, 0},
        {"CAN_Write", 1, Addr(&msg), 0},
        {"CAN_Read", 1, Addr(&msg), 0},  // the slave's answer
        {"CAN_Read", 1, Addr(&msg), SIMCAN_ERR_QRCVEMPTY},
        {"CAN_VersionInfo", 1, Addr(version), 0},
        {"CAN_ResetClient", 0, 0, 0},
        {"CAN_Close", 0, 0, 0},
    };
    for (const EntryCase& e : entries) {
      Call call{};
      call.popped = StackPopped(entry(e.name), &e.arg, e.argCount, &call.result);
      EXPECT_EQ(call.popped, 4 * e.argCount) << e.name;
      EXPECT_EQ(call.result, e.result) << e.name;
    }
    EXPECT_NE(version[0], 0);
    // The test entry points are __cdecl: the caller removes the arguments.
    SimAdapterInfo info{};
    Call get = CallMeasured(entry("Sim_GetAdapter"), {Addr(&info)});
    EXPECT_EQ(get.popped, 0u);
    EXPECT_EQ(get.result, 0u);
    platform::FreeLibraryFile(lib);
  }
}

TEST_F(StdcallStack, BindingCallsEachInitFormAsTheDriverDefinesIt) {
  // The binding's own functions are __cdecl: whatever the driver does inside
  // them, they must return with the stack as it was.
  ASSERT_TRUE(can::LoadDriverLibrary(can::PARALLEL_DRIVER_FILE));
  Call lpt = CallMeasured(reinterpret_cast<void*>(&can::CanInitParallel),
                          {SIMCAN_BTR_500K, 0, 5, 0x3BC, 7});
  EXPECT_EQ(lpt.popped, 0u);
  EXPECT_EQ(lpt.result, 0u);
  EXPECT_EQ(Adapter().interrupt, 7);
  EXPECT_EQ(Adapter().ioPort, 0x3BCu);

  ASSERT_TRUE(can::LoadDriverLibrary(can::PCI_DRIVER_FILE));
  Call two = CallMeasured(reinterpret_cast<void*>(&can::CanInit), {SIMCAN_BTR_125K, 0});
  EXPECT_EQ(two.popped, 0u);
  EXPECT_EQ(two.result, 0u);
  EXPECT_EQ(Adapter().parallelForm, 0);
  EXPECT_EQ(Adapter().baudIndex, 0);
}

}  // namespace
