// Soak run on the simulated device: WinMain with a configuration of its own, and a user who
// presses keys for a long time: a long press that starts a program, a long press that asks
// to end it (answered yes), a short press that is handed back, and every 50 rounds a long
// press that loads the other of two configuration files. After start-up and at the end the
// live allocations of the device code, the open handles and the key registrations are
// counted; they must be the same.
//
// The device code allocates only with new (std::nothrow), so counting those allocations
// counts the device code's memory and nothing of the simulation's bookkeeping.
//
//   soak [--presses N]      (default 1000000); exit status 1 when a count differs
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "harness/program_run.h"
#include "sim/device.h"
#include "utf/utf.h"

namespace {

// Open addressing over pointer values; no allocation of its own, so safe inside new/delete.
const size_t kSlots = 1 << 16;
const void* tracked[kSlots];
size_t liveDeviceAllocations = 0;

size_t slotOf(const void* pointer) {
  return (reinterpret_cast<uintptr_t>(pointer) >> 4) * 2654435761u % kSlots;
}

void track(const void* pointer) {
  if (pointer == nullptr) return;
  size_t slot = slotOf(pointer);
  while (tracked[slot] != nullptr) slot = (slot + 1) % kSlots;
  tracked[slot] = pointer;
  ++liveDeviceAllocations;
}

void untrack(const void* pointer) {
  if (pointer == nullptr || liveDeviceAllocations == 0) return;
  for (size_t slot = slotOf(pointer); tracked[slot] != nullptr; slot = (slot + 1) % kSlots) {
    if (tracked[slot] != pointer) continue;
    // Re-insert the rest of the cluster so that no later entry becomes unreachable.
    tracked[slot] = nullptr;
    --liveDeviceAllocations;
    for (size_t next = (slot + 1) % kSlots; tracked[next] != nullptr; next = (next + 1) % kSlots) {
      const void* moved = tracked[next];
      tracked[next] = nullptr;
      --liveDeviceAllocations;
      track(moved);
    }
    return;
  }
}

}  // namespace

// Every allocation comes from malloc and goes back to free, so that the replaced delete
// below matches whatever new was used.
void* operator new(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  void* block = std::malloc(size == 0 ? 1 : size);
  track(block);
  return block;
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept {
  untrack(block);
  std::free(block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, size_t) noexcept { operator delete(block); }
void operator delete[](void* block, size_t) noexcept { operator delete(block); }

namespace {

std::u16string configuration(const std::u16string& program, const std::u16string& other) {
  return u"SETTINGS\r\nCheckIntervall=50\r\nElapseTime=300\r\n\r\nKURVIX\r\nKeyCode=193\r\nCommand=" +
         program + u"\r\n\r\nKURVIX\r\nKeyCode=195\r\nNewIni=" + other + u"\r\n\r\nKURVIX\r\nKeyCode=196\r\n";
}

struct Counts {
  size_t allocations, handles, registrations;
};

Counts count() {
  return {liveDeviceAllocations, sim::openHandleCount(), sim::hotKeys().size()};
}

class Soak {
 public:
  explicit Soak(uint64_t presses) : pressesWanted_(presses) {}

  int run() {
    program_.configure(unicodeFile(configuration(u"\\a.exe", u"\\Programme\\B.ini")));
    sim::putFile(u"\\Programme\\B.ini", unicodeFile(configuration(u"\\b.exe", u"\\Programme\\Kurvix.ini")));
    program_.at(10, [this](HWND) { round(); });
    auto started = std::chrono::steady_clock::now();
    int exitCode = program_.run();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("presses            %llu (%llu reloads), %.1f s, %.0f presses/s\n",
                static_cast<unsigned long long>(presses_), static_cast<unsigned long long>(reloads_),
                seconds, presses_ / seconds);
    std::printf("virtual time       %.1f h\n", sim::now() / 3600000.0);
    std::printf("                   after start-up  at the end\n");
    std::printf("live allocations   %14zu  %10zu\n", atStart_.allocations, atEnd_.allocations);
    std::printf("open handles       %14zu  %10zu\n", atStart_.handles, atEnd_.handles);
    std::printf("registrations      %14zu  %10zu\n", atStart_.registrations, atEnd_.registrations);
    std::printf("programs started   %llu\n", static_cast<unsigned long long>(sim::programs().size()));
    bool same = atStart_.allocations == atEnd_.allocations && atStart_.handles == atEnd_.handles &&
                atStart_.registrations == atEnd_.registrations;
    bool clean = exitCode == 0 && sim::hotKeys().empty() && sim::openHandleCount() == 0 &&
                 liveDeviceAllocations == 0;
    std::printf("%s\n", same && clean ? "bookkeeping: same at the end as after start-up, nothing left after exit"
                                      : "bookkeeping: DIFFERS");
    return same && clean ? 0 : 1;
  }

 private:
  // One round: long press (starts the program), long press (asks, answered yes: ends it),
  // short press (handed back); every 50 rounds a long press that reloads.
  void round() {
    sim::pump();
    sim::clearRecords();
    if (presses_ == 0) atStart_ = count();
    if (presses_ >= pressesWanted_) {
      atEnd_ = count();
      PostMessageW(harness::mainWindow(), WM_CLOSE, 0, 0);
      return;
    }
    uint64_t t = sim::now();
    press(193, t + 10, 400);
    sim::answerBoxes({IDYES});
    press(193, t + 500, 400);
    press(193, t + 1000, 100);
    t += 1200;
    if (presses_ / 3 % 50 == 49) {
      press(195, t, 400);
      ++reloads_;
      t += 500;
    }
    program_.at(t + 100, [this](HWND) { round(); });
  }

  void press(UINT key, uint64_t down, uint64_t hold) {
    program_.press(key, down, hold);
    ++presses_;
  }

  harness::ProgramRun program_;
  uint64_t pressesWanted_;
  uint64_t presses_ = 0;
  uint64_t reloads_ = 0;
  Counts atStart_{}, atEnd_{};
};

}  // namespace

int main(int argc, char** argv) {
  uint64_t presses = 1000000;
  if (argc == 3 && std::strcmp(argv[1], "--presses") == 0) {
    presses = std::strtoull(argv[2], nullptr, 10);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: soak [--presses N]\n");
    return 64;
  }
  return Soak(presses).run();
}
