/* Assembly entries of the raise wraps (see RuntimeObserver.h): each takes
   the registers and return address of the raising call into a RaiseSite on
   its own stack, calls the C++ side with it, and then jumps on to the real
   routine with the caller's arguments and stack untouched (the real routines
   never return here, so this frame is gone before any unwinding). */

/* RaiseSite layout: ReturnAddress, Ebx, Ecx, Esi, Edi, Ebp, Esp. */
        .set    SITE_SIZE, 28

/* Builds the site below the return address; ebp points at the saved ebp. */
.macro  TAKE_SITE
        pushl   %ebp
        movl    %esp, %ebp
        subl    $SITE_SIZE, %esp
        movl    4(%ebp), %eax
        movl    %eax, 0(%esp)
        movl    %ebx, 4(%esp)
        movl    %ecx, 8(%esp)
        movl    %esi, 12(%esp)
        movl    %edi, 16(%esp)
        movl    0(%ebp), %eax
        movl    %eax, 20(%esp)
        leal    8(%ebp), %eax
        movl    %eax, 24(%esp)
        movl    %esp, %eax
.endm

.macro  LEAVE_SITE
        movl    %ebp, %esp
        popl    %ebp
.endm

        .text

/* void __cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) */
        .globl  ___wrap___cxa_throw
        .def    ___wrap___cxa_throw; .scl 2; .type 32; .endef
___wrap___cxa_throw:
        TAKE_SITE
        pushl   12(%ebp)                /* type */
        pushl   8(%ebp)                 /* object */
        pushl   %eax                    /* site */
        call    _kv_runtime_on_throw
        LEAVE_SITE
        jmp     ___real___cxa_throw

/* void __cxa_rethrow() */
        .globl  ___wrap___cxa_rethrow
        .def    ___wrap___cxa_rethrow; .scl 2; .type 32; .endef
___wrap___cxa_rethrow:
        TAKE_SITE
        pushl   %eax
        call    _kv_runtime_on_rethrow
        LEAVE_SITE
        jmp     ___real___cxa_rethrow

/* void kv_rethrow_recorded(const std::exception_ptr* error, RaiseKind kind) */
        .globl  _kv_rethrow_recorded
        .def    _kv_rethrow_recorded; .scl 2; .type 32; .endef
_kv_rethrow_recorded:
        TAKE_SITE
        pushl   12(%ebp)
        pushl   8(%ebp)
        pushl   %eax
        call    _kv_runtime_on_rethrow_exception
        LEAVE_SITE
        jmp     _kv_runtime_rethrow_exception

/* void kv_rethrow_for_inspection(const std::exception_ptr* error) */
        .globl  _kv_rethrow_for_inspection
        .def    _kv_rethrow_for_inspection; .scl 2; .type 32; .endef
_kv_rethrow_for_inspection:
        call    _kv_runtime_mark_inspection
        jmp     _kv_runtime_rethrow_exception
