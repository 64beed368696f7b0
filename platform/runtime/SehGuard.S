/* The structured-exception guard: see SehGuard.h.
 *
 * Stack frame of kv_seh_guard (the registration record is its start, so the
 * establisher frame the system hands to the handler is its address):
 *   +0    next record on the fs:[0] chain
 *   +4    handler (kv_seh_guard_entry, a jump to kv_seh_guard_handler)
 *   +8    the guard's ebp, to resume with
 *   +12   the fault's EXCEPTION_RECORD, copied (80 bytes)
 *   +92   the fault's CONTEXT, copied (204 bytes, up to ExtendedRegisters)
 */
        .set    FRAME_NEXT, 0
        .set    FRAME_HANDLER, 4
        .set    FRAME_EBP, 8
        .set    FRAME_RECORD, 12
        .set    FRAME_CONTEXT, 92
        .set    FRAME_SIZE, 296
        .set    RECORD_FLAGS, 4
        .set    EXCEPTION_UNWIND_ANY, 6     /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */

        .text
        .globl  _kv_seh_guard
        .def    _kv_seh_guard; .scl 2; .type 32; .endef
/* int kv_seh_guard(body, argument, onFault): cdecl, arguments at 8/12/16(%ebp). */
_kv_seh_guard:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        subl    $FRAME_SIZE, %esp
        movl    %fs:0, %eax
        movl    %eax, FRAME_NEXT(%esp)
        movl    $_kv_seh_guard_entry, FRAME_HANDLER(%esp)
        movl    %ebp, FRAME_EBP(%esp)
        movl    %esp, %fs:0
        pushl   12(%ebp)
        call    *8(%ebp)
        addl    $4, %esp
        movl    FRAME_NEXT(%esp), %eax
        movl    %eax, %fs:0
        xorl    %eax, %eax
.Lleave:
        addl    $FRAME_SIZE, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

/* Entered from the handler once everything above the guard is unwound;
   ebx holds the guard's frame. */
.Lresume:
        movl    %ebx, %esp
        movl    FRAME_EBP(%esp), %ebp
        movl    FRAME_NEXT(%esp), %eax
        movl    %eax, %fs:0
        leal    FRAME_CONTEXT(%esp), %eax
        leal    FRAME_RECORD(%esp), %ecx
        pushl   %eax
        pushl   %ecx
        pushl   12(%ebp)
        call    *16(%ebp)
        addl    $12, %esp
        movl    $1, %eax
        jmp     .Lleave

/* The record names a 5-byte jump to the handler rather than the handler
   itself: that is the shape of a bare except block's record, which is how
   the crash reporter's look at a thread's handler chain recognises the
   guard (the jump's target tells the kind of handler). */
        .globl  _kv_seh_guard_entry
        .def    _kv_seh_guard_entry; .scl 2; .type 32; .endef
_kv_seh_guard_entry:
        .byte   0xE9                            /* jmp rel32, never the short form */
        .long   _kv_seh_guard_handler - . - 4

        .globl  _kv_seh_guard_handler
        .def    _kv_seh_guard_handler; .scl 2; .type 32; .endef
/* EXCEPTION_DISPOSITION handler(record, frame, context, dispatcher): cdecl. */
_kv_seh_guard_handler:
        movl    4(%esp), %eax
        testl   $EXCEPTION_UNWIND_ANY, RECORD_FLAGS(%eax)
        jnz     .Lsearch_on
        pushl   (%eax)                          /* ExceptionCode */
        call    _kv_seh_guard_takes
        addl    $4, %esp
        testl   %eax, %eax
        jz      .Lsearch_on
        pushl   %ebp
        movl    %esp, %ebp
        /* ebx, esi, edi are not restored: this frame is abandoned below. */
        movl    12(%ebp), %ebx                  /* the guard's frame */
        cld
        movl    8(%ebp), %esi
        leal    FRAME_RECORD(%ebx), %edi
        movl    $20, %ecx
        rep movsl
        movl    16(%ebp), %esi
        leal    FRAME_CONTEXT(%ebx), %edi
        movl    $51, %ecx
        rep movsl
        pushl   $0                              /* ReturnValue */
        pushl   8(%ebp)                         /* ExceptionRecord */
        pushl   $.Lresume                       /* TargetIp */
        pushl   %ebx                            /* TargetFrame */
        call    *__imp__RtlUnwind@16
        /* Every record above ours is gone; fs:[0] is our frame again. */
        movl    %fs:0, %ebx
        jmp     .Lresume
.Lsearch_on:
        movl    $1, %eax                        /* ExceptionContinueSearch */
        ret
