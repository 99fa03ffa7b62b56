/* quarlrpc.h: the buffer exports of libquarlrpc.so (the automation object's
 * entry points are in quarl_automation.h; see the end of this file).
 *
 * Every export takes a character buffer and its length and returns nothing:
 *
 *     void Name(char *buffer, int16_t length);
 *
 * The buffer carries the input text (blanks after it are ignored) and
 * receives the output text, blank padded to `length` and never
 * NUL-terminated.  A failure puts "*****" at the start of the buffer (the
 * rest blank) and keeps a message for GetError.  A negative length is
 * refused without touching the buffer.  The library keeps one state for the
 * whole process: calls must not overlap.
 *
 * Items: an operation that takes several inputs splits the text at commas
 * and drops the blanks around each item; items cannot hold commas.  Below,
 * "in:" is the buffer's text on entry, "out:" what it holds on success.
 *
 * Build:  cc prog.c $(pkg-config --cflags --libs quarlrpc)
 * COBOL:  cobc -x prog.cob -lquarlrpc -fstatic-call   (or COB_PRE_LOAD=libquarlrpc)
 */
#ifndef QUARLRPC_H
#define QUARLRPC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The library itself ---- */
void GetError(char *buffer, int16_t length);   /* out: the message of the last failure (blank when none) */
void GetVersion(char *buffer, int16_t length); /* out: "5.000.005" */
void TestFunc(char *buffer, int16_t length);   /* does nothing; the buffer is not touched */

/* ---- Host procedure calls through the Host Server ---- */
void Connect(char *buffer, int16_t length);       /* in: DSN[,USER[,PASSWORD]] (what is not given is read from
                                                     the data source's UID and PWD); out: blank */
void Disconnect(char *buffer, int16_t length);    /* in: ignored; out: blank */
void LibraryName(char *buffer, int16_t length);   /* in: the library name, e.g. OBJECT/DEC/RPC1 (the default) */
void EntryPoint(char *buffer, int16_t length);    /* in: the entry point name (default PROC1) */
void CoRoutineName(char *buffer, int16_t length); /* in: the coroutine name (default OBJECT/DEC/COR) */
void ExeCall(char *buffer, int16_t length);       /* in: the parameter area; out: the procedure's area */
void CorCall(char *buffer, int16_t length);       /* in/out: as ExeCall, for the coroutine */

/* ---- Transaction-code calls over TCP ---- */
void Connect22(char *buffer, int16_t length);     /* in: HOST,PORT (or HOST PORT); HOST up to 251 characters */
void Disconnect22(char *buffer, int16_t length);  /* in: ignored */
void Trancode22(char *buffer, int16_t length);    /* in: the transaction code, 1 to 6 characters */
void LibraryName22(char *buffer, int16_t length); /* in: the library name, at most 50 characters (may be blank) */
void EntryPoint22(char *buffer, int16_t length);  /* in: the entry point name, at most 50 characters (may be blank) */
void ExeCall22(char *buffer, int16_t length);     /* in: the request data (at most 9999 bytes are sent);
                                                     out: the reply data */

/* ---- Record files ---- */
void OpenReadFile(char *buffer, int16_t length);    /* in: PATH */
void ReadNextRecord(char *buffer, int16_t length);  /* in: blank, or NotEmpty to skip blank lines;
                                                       out: the next line, or EOF */
void CloseReadFile(char *buffer, int16_t length);   /* in: ignored */
void OpenUpdateFile(char *buffer, int16_t length);  /* in: PATH */
void GetNextRecord(char *buffer, int16_t length);   /* in: blank or NotEmpty; out: the next line, or EOF */
void CloseUpdateFile(char *buffer, int16_t length); /* in: ignored */
void OpenWriteFile(char *buffer, int16_t length);   /* in: PATH[,APPEND] */
void WriteNextRecord(char *buffer, int16_t length); /* in: the record (trailing blanks dropped) */
void CloseWriteFile(char *buffer, int16_t length);  /* in: ignored */
void GetMaxRecLength(char *buffer, int16_t length); /* in: PATH; out: the longest line's length */
void VariableToFixed(char *buffer, int16_t length); /* in: IN,OUT,[NotEmpty],SIZE; out: RECORDS,EMPTY */
void FixedToVariable(char *buffer, int16_t length); /* in: IN,OUT[,NotEmpty]; out: RECORDS,EMPTY */

/* ---- Special characters (replacements for tab, line feed, CR LF, CR, NUL) ---- */
void GetSpecialChar(char *buffer, int16_t length);   /* in: TAB, LF, CRLF, CR or NULL; out: its character */
void SetSpecialChar(char *buffer, int16_t length);   /* in: KEYWORD,CHARACTER */
void EnableSpecialCh(char *buffer, int16_t length);  /* in: ignored */
void DisableSpecialCh(char *buffer, int16_t length); /* in: ignored */

/* ---- Shared variables, time stamps, files and folders ---- */
void SetVariable(char *buffer, int16_t length);  /* in: NAME,VALUE; NAME up to 17 characters (case counts),
                                                    VALUE a whole number (blank: 0) */
void GetVariable(char *buffer, int16_t length);  /* in: NAME,WIDTH; out: the value, zero-padded to WIDTH */
void BumpVariable(char *buffer, int16_t length); /* in: NAME,WIDTH; out: the value after adding 1 */
void GetTimeStamp(char *buffer, int16_t length); /* out: YYYYDDDSSSSSMMM (year, day of the year, seconds since
                                                    midnight, milliseconds; local time) */
void FileExists(char *buffer, int16_t length);   /* in: PATH (commas included); out: blank */
void FolderExists(char *buffer, int16_t length); /* in: PATH; out: blank */
void CreateFolder(char *buffer, int16_t length); /* in: PATH (one level); out: blank */

/* ---- The clipboard (the desktop's; without a display: "Cannot open clipboard") ---- */
void PutClipboard(char *buffer, int16_t length);      /* in: the text (less trailing blanks); all blanks
                                                         empties the clipboard */
void GetClipboard(char *buffer, int16_t length);      /* out: the clipboard's text, or EMPTY */
void OpenClipboardIn(char *buffer, int16_t length);   /* in: ignored; takes the text the lines come from */
void GetClipboardLine(char *buffer, int16_t length);  /* out: the next line (a longer one over several
                                                         calls), or EMPTY after the last */
void CloseClipboardIn(char *buffer, int16_t length);  /* in: ignored */
void OpenClipboardOut(char *buffer, int16_t length);  /* in: ignored */
void PutClipboardLine(char *buffer, int16_t length);  /* in: one line (it gets CR LF) */
void CloseClipboardOut(char *buffer, int16_t length); /* in: ignored; the lines go on the clipboard together
                                                         (none: it is emptied) */

/* ---- Dialogs, help, the desktop's applications, settings files ---- */
void MsgBox(char *buffer, int16_t length);          /* in: TEXT[,CAPTION[,FLAGS]], FLAGS MB_ names joined by |;
                                                       out: IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES
                                                       or IDNO */
void WinHelp(char *buffer, int16_t length);         /* in: FILE[,HELP_COMMAND[,DATA]] (HELP_CONTEXT n,
                                                       HELP_KEY word, ...); out: unchanged */
void ShellOpen(char *buffer, int16_t length);       /* in: a path or an address; out: unchanged */
void ReadFileDialog(char *buffer, int16_t length);  /* in: DESCRIPTION,EXTENSION,FOLDER,TITLE,FILE_NAME (all
                                                       optional); out: the chosen path, or IDCANCEL */
void WriteFileDialog(char *buffer, int16_t length); /* in/out: as ReadFileDialog, for a file to write */
void ShowColor(char *buffer, int16_t length);       /* in: RED,GREEN,BLUE (default 0); out: RED,GREEN,BLUE */
void ShowFont(char *buffer, int16_t length);        /* in: FACE,POINTS,STYLES[,RED,GREEN,BLUE], STYLES letters
                                                       of B, I, S, U; out: FACE,POINTS,STYLES,RED,GREEN,BLUE */
void UpdateLongField(char *buffer, int16_t length); /* in: CAPTION, then the text (commas included); out: the
                                                       edited text */
void PutIniFileParam(char *buffer, int16_t length); /* in: FILE,SECTION,KEY, then the value (empty: the key is
                                                       removed; empty KEY: the section); out: unchanged */
void GetIniFileParam(char *buffer, int16_t length); /* in: FILE,SECTION,KEY, then the default; out: the value
                                                       (empty SECTION or KEY: the names, each followed by a
                                                       zero byte) */

/* ---- ODBC through the driver manager (one connection, one statement) ---- */
void ODBCConnect(char *buffer, int16_t length);       /* in: DSN, or a connection string beginning with DSN= */
void ODBCDisconnect(char *buffer, int16_t length);    /* in: ignored */
void ODBCExecute(char *buffer, int16_t length);       /* in: one SQL statement; out: the row count, or for a
                                                         select the column names */
void ODBCFetch(char *buffer, int16_t length);         /* out: the next row, or the failure EOF after the last */
void ODBCSetOptions(char *buffer, int16_t length);    /* in: words FIXED or VARIABLE, TAB or NOTAB */
void ODBCTables(char *buffer, int16_t length);        /* in: a table name pattern or blank; out: column names */
void ODBCColumns(char *buffer, int16_t length);       /* in: TABLE[,COLUMN_PATTERN]; out: column names */
void ODBCColAttributes(char *buffer, int16_t length); /* in: N KEYWORD (SQL_COLUMN_NAME, ..._TYPE, ..._LENGTH,
                                                         ..._PRECISION, ..._SCALE, ..._DISPLAY_SIZE,
                                                         ..._TYPE_NAME, ..._TABLE_NAME, ALL or *) */

/* ---- The automation object "Quarl.RPC" ----
 * The library also serves the automation object.  Its server entry points
 * and the BSTR and VARIANT helpers are declared, with their types, in
 * quarl_automation.h (installed beside this header); quarl_object.h creates
 * the object by its ProgID.  They are the library's other exports:
 *
 *   HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv);
 *   HRESULT DllCanUnloadNow(void);
 *   HRESULT DllRegisterServer(void);
 *   BSTR SysAllocString(const OLECHAR *text);
 *   BSTR SysAllocStringLen(const OLECHAR *text, UINT len);
 *   void SysFreeString(BSTR text);
 *   UINT SysStringLen(BSTR text);
 *   void VariantInit(VARIANTARG *var);
 *   HRESULT VariantClear(VARIANTARG *var);
 */

#ifdef __cplusplus
}
#endif

#endif /* QUARLRPC_H */
