| Entry point of the code 1 resource. The system enters at its first byte with the
| launch code, parameter block and launch flags on the stack. The first four bytes are
| 0x00000001, the customary start of a code 1 resource; as an instruction it is a
| harmless "ori.b #1,%d0".
|
| The system call SysAppStartup sets up the application's world and hands back the
| launch arguments; PilotMain runs with them; SysAppExit undoes the start-up.

    .section .text.start,"ax"
    .globl _start
_start:
    ori.b   #1,%d0
    link.w  %fp,#-16
    pea     -12(%fp)            | globals
    pea     -8(%fp)             | previous globals
    pea     -4(%fp)             | application information
    trap    #15
    .word   0xA08F              | SysAppStartup
    lea     12(%sp),%sp
    tst.w   %d0
    bne.s   1f
    move.l  -4(%fp),%a0         | PilotMain takes each argument in a 32-bit slot
    moveq   #0,%d0
    move.w  6(%a0),%d0
    move.l  %d0,-(%sp)          | launch flags
    move.l  2(%a0),-(%sp)       | parameter block
    moveq   #0,%d0
    move.w  (%a0),%d0
    move.l  %d0,-(%sp)          | launch code
    bsr.w   PilotMain
    lea     12(%sp),%sp
    move.l  %d0,-16(%fp)
    move.l  -12(%fp),-(%sp)
    move.l  -8(%fp),-(%sp)
    move.l  -4(%fp),-(%sp)
    trap    #15
    .word   0xA090              | SysAppExit
    lea     12(%sp),%sp
    move.l  -16(%fp),%d0
    unlk    %fp
    rts
1:  moveq   #-1,%d0
    unlk    %fp
    rts

    .section .note.GNU-stack,"",@progbits
