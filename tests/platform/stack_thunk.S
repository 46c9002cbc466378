/*
 * Calls a cdecl function of the 32-bit x86 ABI with its stack pointer at a chosen offset from a
 * 16-byte boundary, as a host built by another compiler may: at the call instruction,
 * esp % 16 == offset (0, 4, 8 or 12).
 *
 *   uint32_t fourwaveCallAtStackOffset(const void *function, const uint32_t *arguments,
 *                                      int32_t count, int32_t offset);
 *   uint32_t fourwaveStackAtCall(void);   -- esp at its caller's call instruction, for the
 *                                            thunk's own test
 */
#ifdef _WIN32
#define SYMBOL(name) _##name
#else
#define SYMBOL(name) name
#endif

    .text
    .globl SYMBOL(fourwaveCallAtStackOffset)
SYMBOL(fourwaveCallAtStackOffset):
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 16(%ebp), %ecx          /* argument count */
    movl 12(%ebp), %esi          /* arguments */
    leal 16(,%ecx,4), %eax       /* room for them, plus up to 12 bytes of offset */
    subl %eax, %esp
    andl $-16, %esp              /* a 16-byte boundary ... */
    movl 20(%ebp), %eax
    andl $12, %eax
    addl %eax, %esp              /* ... and the offset from it */
    movl %esp, %edi
    cld
    rep movsl                    /* the arguments, first one lowest */
    movl 8(%ebp), %eax
    call *%eax                   /* cdecl: the caller removes the arguments (leal below) */
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret

    .globl SYMBOL(fourwaveStackAtCall)
SYMBOL(fourwaveStackAtCall):
    leal 4(%esp), %eax           /* above the return address: esp at the call */
    ret

#ifndef _WIN32
    .section .note.GNU-stack,"",@progbits
#endif
