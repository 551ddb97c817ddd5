| 32-bit multiplication and division, which the compiler calls because the 68000
| multiplies only 16 by 16 bits and divides only 32 by 16 bits. (The cross compiler's
| own helper library is built for the 68020 and would not run on a 68000.)
| Arguments at 4(sp) and 8(sp), result in d0; d0-d1/a0-a1 may change.

    .text

| a * b, low 32 bits, from three partial products.
    .globl  __mulsi3
__mulsi3:
    move.w  4(%sp),%d0          | high half of a
    mulu.w  10(%sp),%d0         | * low half of b
    move.w  8(%sp),%d1          | high half of b
    mulu.w  6(%sp),%d1          | * low half of a
    add.w   %d1,%d0
    swap    %d0
    clr.w   %d0
    move.w  6(%sp),%d1
    mulu.w  10(%sp),%d1         | low half of a * low half of b
    add.l   %d1,%d0
    rts

| Unsigned 32 / 32 bits by shift and subtract.
| In: d0 dividend, d1 divisor. Out: d0 quotient, d1 remainder. a0-a1 are kept.
udivmod:
    move.l  %d2,-(%sp)
    move.l  %d3,-(%sp)
    move.l  %d1,%d3
    moveq   #0,%d1
    moveq   #31,%d2
1:  add.l   %d0,%d0             | next dividend bit into X
    addx.l  %d1,%d1             | ... and into the remainder
    bcs.s   2f                  | the remainder overflowed: certainly >= divisor
    cmp.l   %d3,%d1
    bcs.s   3f
2:  sub.l   %d3,%d1
    addq.l  #1,%d0              | quotient bit
3:  dbra    %d2,1b
    move.l  (%sp)+,%d3
    move.l  (%sp)+,%d2
    rts

    .globl  __udivsi3
__udivsi3:
    move.l  4(%sp),%d0
    move.l  8(%sp),%d1
    bsr.w   udivmod
    rts

    .globl  __umodsi3
__umodsi3:
    move.l  4(%sp),%d0
    move.l  8(%sp),%d1
    bsr.w   udivmod
    move.l  %d1,%d0
    rts

| Signed: the quotient is negative when the signs differ, the remainder takes the
| dividend's sign (both round toward zero, as C does).
    .globl  __divsi3
__divsi3:
    move.l  4(%sp),%d0
    move.l  8(%sp),%d1
    eor.l   %d1,%d0
    move.l  %d0,%a1             | sign of the quotient
    move.l  4(%sp),%d0
    bpl.s   1f
    neg.l   %d0
1:  tst.l   %d1
    bpl.s   2f
    neg.l   %d1
2:  bsr.w   udivmod
    move.l  %a1,%d1
    bpl.s   3f
    neg.l   %d0
3:  rts

    .globl  __modsi3
__modsi3:
    move.l  8(%sp),%d1
    bpl.s   1f
    neg.l   %d1
1:  move.l  4(%sp),%d0
    move.l  %d0,%a1             | sign of the remainder
    bpl.s   2f
    neg.l   %d0
2:  bsr.w   udivmod
    move.l  %d1,%d0
    move.l  %a1,%d1
    bpl.s   3f
    neg.l   %d0
3:  rts

    .section .note.GNU-stack,"",@progbits
