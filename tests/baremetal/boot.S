/* The bare-metal test kernel's multiboot header and entry: a stack of its own, then C++. */
    .set MULTIBOOT_MAGIC, 0x1BADB002
    .set MULTIBOOT_FLAGS, 0

    .section .multiboot, "a"
    .align 4
    .long MULTIBOOT_MAGIC
    .long MULTIBOOT_FLAGS
    .long -(MULTIBOOT_MAGIC + MULTIBOOT_FLAGS)

    .section .bss
    .align 16
stack_bottom:
    .skip 16384
stack_top:

    .section .text
    .global _start
_start:
    /* The loader leaves the stack pointer undefined and may leave the direction flag set. */
    movl $stack_top, %esp
    cld
    call KernelMain
halt:
    cli
    hlt
    jmp halt

    .section .note.GNU-stack, "", @progbits
