#pragma once

#include <cstdint>

// The time limits of a fetch, counted in the one HTTP time-out (the connect
// and receive time-out, g_httpTimeoutMs in HttpFetch.h), so that a test that
// shortens it shortens every limit with it. Platform-free: the fetch reads
// the platform's tick count and these judge it.

// Opening an address, all its redirects together (connection, TLS handshake,
// request and response head of every hop): two time-outs, what a single send
// was given before the hops were counted together. A moved host costs one
// hop of a few round trips; a server that answers every hop just inside the
// receive time-out must not multiply the wait by the hops it hands out.
constexpr uint32_t kAddressTimeouts = 2;

// The definition package as a whole, update.qdv, MD5.txt, readme.txt and
// update.sig: four time-outs (2 minutes at 30 s). The four at the full size
// of their areas are 200 KiB, about 26 s on a 64 kbit/s line, and the usual
// package of a few KiB takes a second. Without it a server that keeps each
// file just inside the other limits holds the dialog for about ten minutes
// before it may show anything.
constexpr uint32_t kDefinitionTimeouts = 4;

// A large file's block index (at most 1.25 MiB) within four time-outs, as the
// definition package: it saves a download only when it comes quickly, and
// past them the file is fetched whole.
constexpr uint32_t kBlockIndexTimeouts = 4;

// A body that brings fewer bytes than this in a window of one time-out has
// stalled. 16 KiB in 30 s is about 550 bytes a second: a fifteenth of a
// 64 kbit/s line (8,000 bytes a second), so a slow line shared with other
// traffic or losing packets still clears it many times, while a server that
// trickles a byte at a time inside the receive time-out does not. A server
// that just clears it holds a body for at most one window per 16 KiB of it
// (a body ends at its declared size or its area), which is bounded, where a
// trickle was not. Reads of 8 KiB with the program's own 2 ms pause between
// them take up to 4 MB a second, far above.
constexpr uint32_t kLeastBodyBytesPerWindow = 16384;

// No limit, where an amount of time is asked for.
constexpr uint32_t kNoTimeLimit = 0xFFFFFFFF;

// count time-outs of timeoutMs each, held below kNoTimeLimit.
uint32_t TimeoutsMs(uint32_t count, uint32_t timeoutMs);

// The lesser of two amounts of time.
uint32_t LesserMs(uint32_t a, uint32_t b);

// A span of time on a millisecond counter that wraps (the platform's tick
// count), which must be shorter than the counter's cycle (49 days).
struct TimeBudget {
    uint32_t startMs;
    uint32_t allowedMs;  // kNoTimeLimit: never runs out

    // What is left at nowMs: 0 once allowedMs have passed since startMs,
    // kNoTimeLimit when unbounded.
    uint32_t LeftMs(uint32_t nowMs) const;
};

// Watches a body for a stall: from its start, each span between two
// judgements of at least windowMs must bring kLeastBodyBytesPerWindow bytes
// for every windowMs it lasts. A span that ends late (a read that waited for
// most of the receive time-out) is judged at the same rate, not let off.
class BodyPace {
public:
    BodyPace(uint32_t startMs, uint32_t windowMs);

    // Counts bytes that arrived by nowMs; false when the span that closes at
    // nowMs brought too few, and on every later call.
    bool Keeps(uint32_t nowMs, uint32_t bytes);

private:
    uint32_t m_spanStartMs;
    uint32_t m_windowMs;
    uint64_t m_bytesInSpan;
    bool m_stalled;
};
