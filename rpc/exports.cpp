// The buffer exports of libquarlrpc.so: one line each, naming the frame shape
// and the session operation.  Every export is `void NAME(char *buffer,
// int16_t length)` with C linkage.  A new area of operations is a class in
// its own files, a member of RpcSession, and its lines here.
#include <cstdint>

#include "rpc/frame.h"
#include "rpc/session.h"

namespace {

// The session of the exports, constructed when the library is loaded.
quarl::rpc::RpcSession g_session;

}  // namespace

#define QUARLRPC_API __attribute__((visibility("default")))

// One export: its name, its frame shape (A blank-always, K keep-on-success,
// U unchecked; frame.h) and the session operation it runs.
#define QUARLRPC_EXPORT(name, shape, operation)                                                              \
  extern "C" QUARLRPC_API void name(char* buffer, int16_t length) {                                         \
    quarl::rpc::run_export(g_session, buffer, length, quarl::rpc::Shape::shape,                             \
                           [](quarl::rpc::RpcSession& s, quarl::rpc::Buffer b) { return s.operation(b); }); \
  }

// The frame's own.
QUARLRPC_EXPORT(GetError, U, get_error)
QUARLRPC_EXPORT(GetVersion, K, get_version)
// No operation beyond the frame; the buffer is not touched.
extern "C" QUARLRPC_API void TestFunc(char* buffer, int16_t length) {
  quarl::rpc::run_export(g_session, buffer, length, quarl::rpc::Shape::N, nullptr);
}

// Host procedure calls.
QUARLRPC_EXPORT(Connect, A, host_calls.connect)
QUARLRPC_EXPORT(Disconnect, A, host_calls.disconnect)
QUARLRPC_EXPORT(LibraryName, A, host_calls.library_name)
QUARLRPC_EXPORT(CoRoutineName, A, host_calls.co_routine_name)
QUARLRPC_EXPORT(EntryPoint, A, host_calls.entry_point)
QUARLRPC_EXPORT(ExeCall, K, host_calls.exe_call)
QUARLRPC_EXPORT(CorCall, K, host_calls.cor_call)

// Transaction-code calls over TCP.
QUARLRPC_EXPORT(Connect22, K, tcp_calls.connect22)
QUARLRPC_EXPORT(Disconnect22, K, tcp_calls.disconnect22)
QUARLRPC_EXPORT(Trancode22, K, tcp_calls.trancode22)
QUARLRPC_EXPORT(EntryPoint22, K, tcp_calls.entry_point22)
QUARLRPC_EXPORT(LibraryName22, K, tcp_calls.library_name22)
QUARLRPC_EXPORT(ExeCall22, K, tcp_calls.exe_call22)

// Record files.
QUARLRPC_EXPORT(OpenReadFile, K, record_files.open_read_file)
QUARLRPC_EXPORT(CloseReadFile, K, record_files.close_read_file)
QUARLRPC_EXPORT(ReadNextRecord, K, record_files.read_next_record)
QUARLRPC_EXPORT(OpenWriteFile, K, record_files.open_write_file)
QUARLRPC_EXPORT(CloseWriteFile, K, record_files.close_write_file)
QUARLRPC_EXPORT(WriteNextRecord, K, record_files.write_next_record)
QUARLRPC_EXPORT(OpenUpdateFile, K, record_files.open_update_file)
QUARLRPC_EXPORT(CloseUpdateFile, K, record_files.close_update_file)
QUARLRPC_EXPORT(GetNextRecord, K, record_files.get_next_record)
QUARLRPC_EXPORT(GetMaxRecLength, K, record_files.get_max_rec_length)
QUARLRPC_EXPORT(VariableToFixed, K, record_files.variable_to_fixed)
QUARLRPC_EXPORT(FixedToVariable, K, record_files.fixed_to_variable)

// Shared variables, time stamps and folders.
QUARLRPC_EXPORT(SetVariable, K, shared_variables.set_variable)
QUARLRPC_EXPORT(GetVariable, K, shared_variables.get_variable)
QUARLRPC_EXPORT(BumpVariable, K, shared_variables.bump_variable)
QUARLRPC_EXPORT(GetTimeStamp, U, files_and_time.get_time_stamp)
QUARLRPC_EXPORT(FileExists, K, files_and_time.file_exists)
QUARLRPC_EXPORT(FolderExists, K, files_and_time.folder_exists)
QUARLRPC_EXPORT(CreateFolder, K, files_and_time.create_folder)

// Special characters.
QUARLRPC_EXPORT(GetSpecialChar, K, special_chars.get_special_char)
QUARLRPC_EXPORT(SetSpecialChar, K, special_chars.set_special_char)
QUARLRPC_EXPORT(EnableSpecialCh, K, special_chars.enable_special_ch)
QUARLRPC_EXPORT(DisableSpecialCh, K, special_chars.disable_special_ch)

// The clipboard.
QUARLRPC_EXPORT(PutClipboard, K, clipboard.put_clipboard)
QUARLRPC_EXPORT(GetClipboard, K, clipboard.get_clipboard)
QUARLRPC_EXPORT(OpenClipboardIn, K, clipboard.open_clipboard_in)
QUARLRPC_EXPORT(GetClipboardLine, K, clipboard.get_clipboard_line)
QUARLRPC_EXPORT(CloseClipboardIn, K, clipboard.close_clipboard_in)
QUARLRPC_EXPORT(OpenClipboardOut, K, clipboard.open_clipboard_out)
QUARLRPC_EXPORT(PutClipboardLine, K, clipboard.put_clipboard_line)
QUARLRPC_EXPORT(CloseClipboardOut, K, clipboard.close_clipboard_out)

// Dialogs, help, shell and settings files.
QUARLRPC_EXPORT(MsgBox, K, desktop_calls.msg_box)
QUARLRPC_EXPORT(WinHelp, K, desktop_calls.win_help)
QUARLRPC_EXPORT(ShellOpen, K, desktop_calls.shell_open)
QUARLRPC_EXPORT(ReadFileDialog, K, desktop_calls.read_file_dialog)
QUARLRPC_EXPORT(WriteFileDialog, K, desktop_calls.write_file_dialog)
QUARLRPC_EXPORT(ShowColor, K, desktop_calls.show_color)
QUARLRPC_EXPORT(ShowFont, K, desktop_calls.show_font)
QUARLRPC_EXPORT(UpdateLongField, K, desktop_calls.update_long_field)
QUARLRPC_EXPORT(PutIniFileParam, K, settings_files.put_ini_file_param)
QUARLRPC_EXPORT(GetIniFileParam, K, settings_files.get_ini_file_param)

// ODBC convenience calls.
QUARLRPC_EXPORT(ODBCConnect, K, odbc_calls.odbc_connect)
QUARLRPC_EXPORT(ODBCDisconnect, K, odbc_calls.odbc_disconnect)
QUARLRPC_EXPORT(ODBCExecute, K, odbc_calls.odbc_execute)
QUARLRPC_EXPORT(ODBCFetch, K, odbc_calls.odbc_fetch)
QUARLRPC_EXPORT(ODBCSetOptions, K, odbc_calls.odbc_set_options)
QUARLRPC_EXPORT(ODBCTables, K, odbc_calls.odbc_tables)
QUARLRPC_EXPORT(ODBCColumns, K, odbc_calls.odbc_columns)
QUARLRPC_EXPORT(ODBCColAttributes, K, odbc_calls.odbc_col_attributes)
