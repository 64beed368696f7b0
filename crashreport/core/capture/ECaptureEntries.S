/* Entries of the import hooks that must see the caller's registers as they
   were (see ECapture.h). */

        .text

/* void WINAPI HookedRaiseException(code, flags, count, arguments):
   records the raise frame (the caller's stack above the return address) and
   Ecx, then goes on in C++ with the arguments unchanged. */
        .globl  _HookedRaiseException@16
        .def    _HookedRaiseException@16; .scl 2; .type 32; .endef
_HookedRaiseException@16:
        movl    %ecx, %eax
        leal    4(%esp), %edx
        pushl   %eax
        pushl   %edx
        call    _kv_capture_raise_entry
        addl    $8, %esp
        jmp     _kv_capture_raise_exception@16

/* void WINAPI HookedRtlUnwind(targetFrame, targetIp, record, returnValue):
   notes the unwind, then jumps to the real RtlUnwind with every register and
   argument as the caller left them. */
        .globl  _HookedRtlUnwind@16
        .def    _HookedRtlUnwind@16; .scl 2; .type 32; .endef
_HookedRtlUnwind@16:
        pushal
        leal    36(%esp), %eax
        pushl   44(%esp)                /* record */
        pushl   44(%esp)                /* targetIp */
        pushl   44(%esp)                /* targetFrame */
        pushl   %eax                    /* the caller's frame */
        call    _kv_capture_rtl_unwind
        addl    $16, %esp
        popal
        jmp     *_kv_real_rtl_unwind
