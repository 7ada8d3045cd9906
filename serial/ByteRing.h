// The byte ring behind the dispatcher's input and output buffers: all of their
// wrap arithmetic is here. It does not lock; its owner guards it (the input ring
// with InLock_, the output ring with OutLock_).
//
// Head is where the next byte goes in, Tail where the next one is taken out.
// Head == Tail means empty unless Full is set: a ring that holds Size bytes has
// its head back on its tail.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

struct TSerRing {
  std::unique_ptr<uint8_t[]> Buffer;
  uint32_t Size = 0;
  uint32_t Head = 0;  // next write index
  uint32_t Tail = 0;  // next read index
  bool Full = false;

  // A zeroed buffer of size bytes, empty.
  void Allocate(uint32_t size) {
    Buffer = std::make_unique<uint8_t[]>(size);
    Size = size;
    Reset();
  }
  void Reset() {
    Head = Tail = 0;
    Full = false;
  }

  bool Empty() const { return !Full && Head == Tail; }
  uint32_t Used() const {
    if (Full) return Size;
    return Head >= Tail ? Head - Tail : Head + Size - Tail;
  }
  uint32_t Free() const { return Size - Used(); }

  // The ring index of a byte counted from the start of the buffer's life (a
  // running total of bytes put), or of the offset-th unread byte.
  uint32_t Wrap(uint64_t count) const { return static_cast<uint32_t>(count % Size); }
  uint8_t Unread(uint32_t offset) const { return Buffer[(Tail + offset) % Size]; }

  // Free bytes that follow Head without a wrap: where the next write can land
  // in one piece.
  uint32_t WritableRun() const {
    if (Full) return 0;
    return Tail <= Head ? Size - Head : Tail - Head;
  }
  // Unread bytes that follow Tail without a wrap.
  uint32_t ReadableRun() const {
    if (Empty()) return 0;
    return Head > Tail ? Head - Tail : Size - Tail;
  }

  // Records n bytes written at Head (at most WritableRun()).
  void Commit(uint32_t n) {
    if (n == 0) return;
    Head += n;
    if (Head == Size) Head = 0;
    Full = Head == Tail;
  }
  // Copies n bytes (at most Free()) in behind Head, in two pieces when they wrap.
  void Write(const uint8_t* bytes, uint32_t n) {
    const uint32_t first = n < WritableRun() ? n : WritableRun();
    std::memcpy(Buffer.get() + Head, bytes, first);
    Commit(first);
    if (n > first) {
      std::memcpy(Buffer.get() + Head, bytes + first, n - first);
      Commit(n - first);
    }
  }
  // Takes n unread bytes (at most Used()) off the tail.
  void Consume(uint32_t n) {
    if (n == 0) return;
    Tail = (Tail + n) % Size;
    Full = false;
  }
  // Moves the unread bytes to the start of the buffer when they wrap, so that
  // they can be handed out as one run. scratch holds at least Head bytes.
  void Straighten(uint8_t* scratch) {
    const uint32_t used = Used();
    const uint32_t run = ReadableRun();
    if (run >= used) return;
    const uint32_t wrapped = used - run;
    std::memcpy(scratch, Buffer.get(), wrapped);
    std::memmove(Buffer.get(), Buffer.get() + Tail, run);
    std::memcpy(Buffer.get() + run, scratch, wrapped);
    Tail = 0;
    // A full ring straightens to exactly its size; its head is then index 0.
    Head = used == Size ? 0 : used;
  }
};
