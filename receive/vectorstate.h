#pragma once
// Fills by the raster engine (of a rectangle, of an image) leave the upper halves of the
// processor's vector registers in use. Until they are cleared, the plain code that follows
// runs slower: the receive path's per-character work ran about three times slower on an
// x86-64 server processor after the panes painted by fills and copies alone. Drawing text
// clears them as a side effect; a paint without it leaves them set. One instruction clears
// them, where it exists.

inline void clearUpperVectorState()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx) {
        // The registers named are the ones the instruction changes (only above their
        // lower 128 bits, but the compiler cannot be told that).
        asm volatile("vzeroupper" ::
                         : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                           "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
    }
#endif
}
