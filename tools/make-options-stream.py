#!/usr/bin/python3
"""Writes tests/crashreport/core/data/OptionsStreamGolden.inc: the crash
reporter's options stream in its current layout, written here by a separate
model from the documented layout, for options in which every field holds a
value of its own. The test fills the options through the C++ setters emitted
beside the bytes and compares SaveToStream with the bytes byte for byte, so
two fields swapped in both the writer and the reader (which a round trip
cannot see) show.

    /usr/bin/python3 tools/make-options-stream.py
"""
import os
import struct

NS = 'kv::crashreport::'

# The current layout, in stream order: (field, kind, value, C++ type of a set
# or enumeration). Kinds: byte, word, int, set6, text. Values are chosen so
# that no two neighbours agree.
FIELDS = [
    ('ActivateLog', 'bool', 1, None),
    ('ActivateHandle', 'bool', 0, None),
    ('LogOptions', 'byte', 0x2D, 'TLogOptions'),
    ('AppendLogs', 'bool', 1, None),
    ('SaveLogFile', 'bool', 0, None),
    ('ForegroundTab', 'byte', 4, 'TForegroundType'),
    ('FreezeActivate', 'bool', 1, None),
    ('FreezeTimeout', 'int', 17, None),
    ('SMTPFrom', 'text', 'from@example.org', None),
    ('SMTPHost', 'text', 'mail.example.org', None),
    ('SMTPPort', 'word', 587, None),
    ('SMTPUserID', 'text', 'smtp user', None),
    ('SMTPPassword', 'text', 'smtp secret', None),
    ('TerminateBtnOperation', 'byte', 1, 'TTerminateBtnOperation'),
    ('ErrorsNumberToSave', 'int', 5, None),
    ('ErrorsNumberToShowTerminateBtn', 'int', 9, None),
    ('EMailAddresses', 'text', 'a@example.org;b@example.org', None),
    ('EMailSubject', 'text', 'Crash', None),
    ('EMailSendMode', 'byte', 3, 'TEmailSendMode'),
    ('ShowOptions', 'set6', 0xA5A5A5A5A5A5, 'TShowOptions'),
    ('OutputPath', 'text', 'D:\\logs\\', None),
    ('WebSendMode', 'byte', 6, 'TWebSendMode'),
    ('WebURL', 'text', 'http://127.0.0.1/', None),
    ('WebUserID', 'text', 'web user', None),
    ('WebPassword', 'text', 'web secret', None),
    ('WebPort', 'int', 8080, None),
    ('AttachedFiles', 'text', 'a.txt;b.txt', None),
    ('CommonSendOptions', 'word', 0x3FF, 'TCommonSendOptions'),
    ('ExceptionDialogOptions', 'word', 0x2AA, 'TExceptionDialogOptions'),
    ('AutoCloseDialogSecs', 'int', 30, None),
    # A final CR LF is not stored.
    ('SupportURL', 'text', 'http://support.example.org/\r\n', None),
    ('HTMLLayout', 'text', '<p><%HTML_TAG%></p>', None),
    ('CallStackOptions', 'byte', 0x1F, 'TCallStackOptions'),
    ('BehaviourOptions', 'word', 0x1FF, 'TBehaviourOptions'),
    # No setter: the default set (group son leaks, hide runtime leaks, free
    # all leaks, catch leak exceptions; members 1 to 4).
    ('LeaksOptions', 'default-byte', 0x1E, None),
    ('AutoCrashOperation', 'byte', 2, 'TTerminateBtnOperation'),
    ('AutoCrashNumber', 'int', 4, None),
    ('AutoCrashMinutes', 'int', 2, None),
    ('CompiledFileOptions', 'byte', 0x03, 'TCompiledFileOptions'),
    ('ExceptionDialogType', 'byte', 1, 'TExceptionDialogType'),
    ('ProxyURL', 'text', 'proxy.example.org', None),
    ('ProxyUserID', 'text', 'proxy user', None),
    ('ProxyPassword', 'text', 'proxy secret', None),
    ('ProxyPort', 'word', 3128, None),
    ('TrakerUserID', 'text', 'tracker user', None),
    ('TrakerPassword', 'text', 'tracker secret', None),
    ('TrakerAssignTo', 'text', 'developer', None),
    ('TrakerProject', 'text', 'Kestrelvane', None),
    ('TrakerCategory', 'text', 'crash', None),
    ('TrakerTrialID', 'text', 'trial', None),
    ('ZipPassword', 'text', 'zip secret', None),
]

# Exception filters, in list order: Active, ExceptionClassName,
# ExceptionMessage, ExceptionType, DialogType, HandlerType, ActionType.
FILTERS = [
    (1, 'EAbort', '', 1, 4, 1, 2),
    (0, 'EOutOfMemory', 'Out of memory', 2, 2, 2, 1),
]
EMAIL_MESSAGE = 'Body\r\nline 2'
TEXT_COUNT = 158
TEXTS_COLLECTION = 'C:\\texts\\German'


def customized_text(index):
    return f'Text {index}'


def text_field(text):
    data = text.encode('latin-1')
    if len(data) > 1 and data.find(b'\r\n') == len(data) - 2:
        data = data[:-2]
    return struct.pack('<i', len(data)) + bytes(b ^ 0xD6 for b in data)


def field_bytes(kind, value):
    if kind in ('bool', 'byte', 'default-byte'):
        return struct.pack('<B', value)
    if kind == 'word':
        return struct.pack('<H', value)
    if kind == 'int':
        return struct.pack('<i', value)
    if kind == 'set6':
        return value.to_bytes(6, 'little')
    if kind == 'text':
        return text_field(value)
    raise ValueError(kind)


def stream():
    out = b''.join(field_bytes(kind, value) for _, kind, value, _ in FIELDS)
    out += struct.pack('<i', len(FILTERS))
    for active, class_name, message, exception_type, dialog, handler, action in FILTERS:
        out += struct.pack('<B', active) + text_field(class_name) + text_field(message)
        out += bytes([exception_type, dialog, handler, action])
    out += text_field(EMAIL_MESSAGE)
    out += b''.join(text_field(customized_text(i)) for i in range(TEXT_COUNT))
    out += text_field(TEXTS_COLLECTION)
    return out


def cpp_text(text):
    return '"' + text.replace('\\', '\\\\').replace('\r', '\\r').replace('\n', '\\n') + '"'


def setter(name, kind, value, cpp_type):
    if kind == 'default-byte':
        return None
    if kind == 'bool':
        argument = 'true' if value else 'false'
    elif kind == 'text':
        argument = cpp_text(value)
    elif cpp_type and cpp_type.endswith('Options'):
        argument = f'{NS}{cpp_type}::FromValue(0x{value:X})'
    elif cpp_type:
        argument = f'static_cast<{NS}{cpp_type}>({value})'
    else:
        argument = str(value)
    return f'    options.Set{name}({argument});'


def main():
    lines = ['// Generated by tools/make-options-stream.py from a separate model of the',
             '// options stream. Do not edit.',
             '',
             '// Every field a value of its own, set through the setters.',
             f'inline void FillModelOptions({NS}TOspreyModuleOptions& options)',
             '{']
    for name, kind, value, cpp_type in FIELDS:
        line = setter(name, kind, value, cpp_type)
        if line:
            lines.append(line)
    for active, class_name, message, exception_type, dialog, handler, action in FILTERS:
        lines.append(f'    options.ExceptionsFilters().Add(std::make_unique<{NS}TOspreyExceptionFilter>('
                     f'{NS}TOspreyExceptionFilter{{{"true" if active else "false"}, {cpp_text(class_name)}, '
                     f'{cpp_text(message)}, static_cast<{NS}TFilterExceptionType>({exception_type}), '
                     f'static_cast<{NS}TFilterDialogType>({dialog}), static_cast<{NS}TFilterHandlerType>({handler}), '
                     f'static_cast<{NS}TFilterActionType>({action})}}));')
    lines.append(f'    options.SetEMailMessage({cpp_text(EMAIL_MESSAGE)});')
    lines.append(f'    for (int i = 0; i < {TEXT_COUNT}; ++i)')
    lines.append(f'        options.SetCustomizedTexts(static_cast<{NS}TMessageType>(i), "Text " + std::to_string(i));')
    lines.append(f'    options.SetTextsCollection({cpp_text(TEXTS_COLLECTION)});')
    lines.append('}')
    lines.append('')
    lines.append('// The stream those options make, in hex.')
    data = stream().hex()
    lines.append('constexpr const char* kModelOptionsStream =')
    for start in range(0, len(data), 96):
        lines.append(f'    "{data[start:start + 96]}"')
    lines[-1] += ';'

    target = os.path.join(os.path.dirname(__file__), '..', 'tests', 'crashreport', 'core', 'data',
                          'OptionsStreamGolden.inc')
    with open(target, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
