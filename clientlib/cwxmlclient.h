/*
 * cwxmlclient.h - the Cardwright XML-RPC client library (libcwxmlclient.so).
 *
 * Each function carries one call to a running Cardwright (or RosterLink) over
 * XML-RPC on HTTP: it POSTs a methodCall to http://HOST:PORT/RPC2 and decodes
 * the methodResponse. docs/protocol.md describes the wire format, the way
 * answers become name/value lists and every error code below.
 *
 * Three rules hold for every function:
 *  1. Errors. After a call that fails, GetErrorCode() and then GetErrorText()
 *     describe that failure. After a call that succeeds the code is 0 and the
 *     text is empty. GetErrorCode, GetErrorText, GetSentXML and GetReceivedXML
 *     themselves leave the recorded error alone.
 *  2. Results belong to the library. A returned list or string stays valid
 *     until the next call into the library (any function but GetErrorCode,
 *     GetErrorText, GetSentXML and GetReceivedXML) and is never freed by the
 *     caller. Copy what you need to keep.
 *  3. Arguments belong to the caller. An argument list or string is only read,
 *     and only during the call; the library neither keeps, changes nor frees it.
 *
 * Threads: call the library from one thread only (the GUI thread of the test
 * client). It keeps one connection and one error record for the process.
 * The bitmap functions of cw_bitmap.h may be called from any thread.
 *
 * Strings are NUL-terminated UTF-8. A NULL string argument reads as "".
 * Every string the library returns (list names and values, texts, error
 * texts, the recorded response) is valid UTF-8 without control characters
 * other than TAB, LF and CR: whatever else a server sends is replaced with
 * U+FFFD. A value holding a NUL fails the call with CWX_ERR_BAD_RESPONSE
 * rather than come back cut short; so does a character reference to no
 * character (U+0000 by any digits, a surrogate, past U+10FFFF).
 * Pictures come back as bitmap handles of cw_bitmap.h (included below),
 * which the caller owns; this library exports the bitmap functions, so a
 * program links with -lcwxmlclient alone.
 *
 * Limits, read from the environment when the library opens its connection
 * (the first call, and the first after CloseXML): CWXML_TIMEOUT_MS, the whole
 * call (default 30000); CWXML_CONNECT_TIMEOUT_MS (default 2000, never more
 * than the whole call); CWXML_MAX_RESPONSE_BYTES, the largest answer
 * (default 64 MiB); CWXML_SPIN_US, how long a wait for a quick answer polls
 * before it sleeps (default 100, 0 never).
 *
 * A kept-alive connection is reused only when nothing is waiting on it: an
 * answer that arrives unasked (or late, after a time-out) is never taken for
 * the answer to a later call.
 */
#ifndef CWXMLCLIENT_H
#define CWXMLCLIENT_H

#include <stdint.h>

#include "cw_bitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CWXML_BUILDING_LIBRARY)
#define CWXML_API __attribute__((visibility("default")))
#else
#define CWXML_API
#endif

/* The name/value list: the record passed to the library as an argument list
 * and returned by it as a result. Entry i is names[i], values[i]. Readers walk
 * i from 0 while i < count (signed), so a count of 0 or below means no entries
 * and the arrays are not touched. A NULL name or value reads as "". */
typedef struct NameValueList {
    int32_t count;
    char** names;
    char** values;
} NameValueList;

/* ---- Error codes -------------------------------------------------------
 * The library's own codes are negative. Numbered once: never renumber,
 * always add new codes last. A fault sent by the server keeps the server's
 * own faultCode (a server fault whose code is 0 is reported as
 * CWX_ERR_REMOTE_FAULT so that 0 always means success). */
#define CWX_OK 0
#define CWX_ERR_CONNECT (-1)         /* cannot connect to HOST:PORT (in the connect time) */
#define CWX_ERR_TIMEOUT (-2)         /* no complete answer within the time-out */
#define CWX_ERR_HTTP (-3)            /* HTTP status other than 200 */
#define CWX_ERR_BAD_RESPONSE (-4)    /* not a well-formed XML-RPC response, or oversized headers */
#define CWX_ERR_TOO_LARGE (-5)       /* response larger than the cap */
#define CWX_ERR_BAD_ARGUMENT (-6)    /* an argument XML cannot carry, or a malformed list */
#define CWX_ERR_SETTINGS (-7)        /* host name, port or access key unusable */
#define CWX_ERR_REFUSED (-8)         /* the command answered false */
#define CWX_ERR_UNEXPECTED_TYPE (-9) /* the answer has the wrong XML-RPC type */
#define CWX_ERR_IMAGE (-10)          /* picture cannot be decoded or is too large */
#define CWX_ERR_LAUNCH (-11)         /* the application could not be started */
#define CWX_ERR_NO_MEMORY (-12)      /* out of memory */
#define CWX_ERR_TRANSPORT (-13)      /* any other transport failure */
#define CWX_ERR_REMOTE_FAULT (-14)   /* server fault that carried code 0 */

/* Show modes for LaunchCW and LaunchRL. */
#define CWX_SHOW_HIDDEN 0
#define CWX_SHOW_MINIMIZED 2
#define CWX_SHOW_NORMAL 5

/* ---- Commands without arguments -----------------------------------------
 * Each calls the remote method of its own name with no parameters.
 * Returns 1 when the server answered the boolean true (the command was
 * accepted); 0 when it answered false (CWX_ERR_REFUSED), sent a fault (the
 * fault's code and string), answered another type (CWX_ERR_UNEXPECTED_TYPE)
 * or the call failed on the way (a negative code of the library). */

/* Close: closes the open card design. */
CWXML_API unsigned char Close(void);
/* First: moves to the first record of the selection. */
CWXML_API unsigned char First(void);
/* Next: moves to the next record of the selection. */
CWXML_API unsigned char Next(void);
/* Previous: moves to the previous record of the selection. */
CWXML_API unsigned char Previous(void);
/* Last: moves to the last record of the selection. */
CWXML_API unsigned char Last(void);
/* Exit: asks the application to shut down. */
CWXML_API unsigned char Exit(void);
/* Startlog: starts the application's call log. */
CWXML_API unsigned char Startlog(void);
/* Stoplog: stops the application's call log. */
CWXML_API unsigned char Stoplog(void);
/* Restore: restores the application's window. */
CWXML_API unsigned char Restore(void);
/* Video: captures a photo from the video device into the current record. */
CWXML_API unsigned char Video(void);
/* Print: prints the current record's badge. */
CWXML_API unsigned char Print(void);
/* Twain: captures a photo from the TWAIN device into the current record. */
CWXML_API unsigned char Twain(void);
/* Signature: captures a signature into the current record. */
CWXML_API unsigned char Signature(void);
/* Bitmap: imports a picture file into the current record. */
CWXML_API unsigned char Bitmap(void);
/* Preview: shows the print preview. */
CWXML_API unsigned char Preview(void);
/* ManageTemplates: opens template management. */
CWXML_API unsigned char ManageTemplates(void);
/* Fingerprint: captures a fingerprint into the current record. */
CWXML_API unsigned char Fingerprint(void);
/* RosterLinkConfig: configures RosterLink's link between roster and source. */
CWXML_API unsigned char RosterLinkConfig(void);
/* RosterLink: runs a RosterLink import. */
CWXML_API unsigned char RosterLink(void);

/* ---- Commands with an argument list -------------------------------------
 * Each calls the remote method of its own name with one parameter: a struct
 * holding every entry of `args` as a string member, in list order, duplicates
 * included. A NULL `args`, or a count of 0 or below, sends an empty struct.
 * An entry whose name or value holds a character XML 1.0 cannot carry (a
 * control below 32 other than TAB, LF, CR; U+FFFE, U+FFFF) or is not valid
 * UTF-8 is refused before anything is sent: 0 with CWX_ERR_BAD_ARGUMENT,
 * naming the entry.
 * Results and failures as for the commands above. */

/* Open: opens a card design (e.g. File=/path/to/design.idc). */
CWXML_API unsigned char Open(const NameValueList* args);
/* Select: selects the records that match the Field=Value criteria. */
CWXML_API unsigned char Select(const NameValueList* args);
/* Delete: deletes the records that match the criteria. */
CWXML_API unsigned char Delete(const NameValueList* args);
/* Revise: changes fields of the current record. */
CWXML_API unsigned char Revise(const NameValueList* args);
/* Add: adds a record with the given fields. */
CWXML_API unsigned char Add(const NameValueList* args);
/* Update: updates the records that match the key fields. */
CWXML_API unsigned char Update(const NameValueList* args);
/* Focus: brings the application's window to the front. */
CWXML_API unsigned char Focus(const NameValueList* args);
/* ServerMode: switches the application's server mode. */
CWXML_API unsigned char ServerMode(const NameValueList* args);
/* Goto: moves to a record of the selection. */
CWXML_API unsigned char Goto(const NameValueList* args);
/* Edit: edits fields of the current record. */
CWXML_API unsigned char Edit(const NameValueList* args);
/* CreateTemplate: creates a template. */
CWXML_API unsigned char CreateTemplate(const NameValueList* args);
/* ReviseTemplate: changes a template. */
CWXML_API unsigned char ReviseTemplate(const NameValueList* args);
/* ReviseAssignments: changes which template serves which records. */
CWXML_API unsigned char ReviseAssignments(const NameValueList* args);
/* Template: makes a template the current one. */
CWXML_API unsigned char Template(const NameValueList* args);
/* ReviseUserData: changes the design's user data. */
CWXML_API unsigned char ReviseUserData(const NameValueList* args);
/* FlipBadge: shows the front or the back of the badge. */
CWXML_API unsigned char FlipBadge(const NameValueList* args);

/* ---- Queries -------------------------------------------------------------
 * Each calls the remote method of its own name with no parameters and returns
 * its answer as a name/value list (docs/protocol.md: a struct gives one entry
 * per member in document order; nested values are flattened with dotted and
 * indexed names). Returns NULL on failure. The list is the library's: valid
 * until the next call into the library. */

/* GetFeatures: the features the application offers. */
CWXML_API const NameValueList* GetFeatures(void);
/* GetProgramInfo: program name, version and the open design. */
CWXML_API const NameValueList* GetProgramInfo(void);
/* GetCurrent: the fields of the current record. */
CWXML_API const NameValueList* GetCurrent(void);
/* GetCount: the number of records, in all and in the selection. */
CWXML_API const NameValueList* GetCount(void);
/* GetFields: the names and kinds of the design's fields. */
CWXML_API const NameValueList* GetFields(void);
/* GetTemplates: the design's templates. */
CWXML_API const NameValueList* GetTemplates(void);
/* GetStatus: the application's status. */
CWXML_API const NameValueList* GetStatus(void);
/* GetToolbarStatus: which toolbar commands are available. */
CWXML_API const NameValueList* GetToolbarStatus(void);
/* GetUserData: the design's user data. */
CWXML_API const NameValueList* GetUserData(void);
/* GetMethods: the remote methods (system.listMethods). values[i] is the i-th
 * method name in the server's order; names[i] is its index in decimal. */
CWXML_API const NameValueList* GetMethods(void);

/* GetRecord: the record that matches the criteria in `args` (none: the
 * current record), as a list. Arguments as for the commands with a list. */
CWXML_API const NameValueList* GetRecord(const NameValueList* args);

/* GetMethodProtoType: the signatures of `method` (system.methodSignature),
 * one entry per signature: names[i] is its index in decimal, values[i] reads
 * like "boolean Open(struct)". A method the server documents as having no
 * known signature ("undef") gives a list of 0 entries; any other string
 * answer gives one entry holding that string. NULL on failure. */
CWXML_API const NameValueList* GetMethodProtoType(const char* method);

/* GetMethodHelp: the help text of `method` (system.methodHelp). NULL on
 * failure. The string is the library's: valid until the next call. */
CWXML_API const char* GetMethodHelp(const char* method);

/* GetErrorMessage: the text of an application error code: sends `args`
 * (e.g. Code=12) as the commands with a list do and returns the string
 * answered. NULL on failure. The string is the library's: valid until the
 * next call. */
CWXML_API const char* GetErrorMessage(const NameValueList* args);

/* ---- Pictures ------------------------------------------------------------
 * Each calls the remote method of its own name with the argument list, which
 * answers a base64 PNG. Returns a new bitmap handle (cw_bitmap.h) that the
 * caller owns and deletes with cw_bitmap_delete, or 0 on failure: a corrupt
 * or truncated PNG, or one wider or higher than CW_BITMAP_MAX_SIDE or of more
 * than CW_BITMAP_MAX_PIXELS pixels, fails with CWX_ERR_IMAGE before any large
 * allocation. */

/* GetBadgeImage: the current record's badge as printed. */
CWXML_API CWBitmap GetBadgeImage(const NameValueList* args);
/* GetPhotoImage: the current record's photo. */
CWXML_API CWBitmap GetPhotoImage(const NameValueList* args);
/* GetSignatureImage: the current record's signature. */
CWXML_API CWBitmap GetSignatureImage(const NameValueList* args);
/* GetFingerprintImage: the current record's fingerprint. */
CWXML_API CWBitmap GetFingerprintImage(const NameValueList* args);

/* ---- Numbers -------------------------------------------------------------
 * GetErrorCode is local. The others call the remote method of their own name
 * with no parameters, which answers an integer (IsBusy: a boolean). */

/* GetErrorCode: the code of the last failure (0 after a success). Local. */
CWXML_API int32_t GetErrorCode(void);
/* GetLastCommandError: the code of the last finished command (0: it
 * succeeded). On failure returns -1 and records the error. */
CWXML_API int32_t GetLastCommandError(void);
/* GetCWHandle: the application's window id (its process id when it has no
 * window). On failure returns -1 and records the error. */
CWXML_API int32_t GetCWHandle(void);
/* GetEditCount: the number of edits since the design was opened. On failure
 * returns -1 and records the error. */
CWXML_API int32_t GetEditCount(void);

/* IsBusy: 1 while the application runs a command, 0 when idle, 255 when the
 * call failed. */
CWXML_API unsigned char IsBusy(void);

/* ---- Texts (local) -----------------------------------------------------
 * Valid until the next call into the library other than these three and
 * GetErrorCode. Never NULL. */

/* GetErrorText: the text of the last failure ("" after a success). */
CWXML_API const char* GetErrorText(void);
/* GetSentXML: the body of the last request sent ("" when none, or while XML
 * access is off). */
CWXML_API const char* GetSentXML(void);
/* GetReceivedXML: the body of the last response received ("" when none, or
 * while XML access is off). */
CWXML_API const char* GetReceivedXML(void);

/* ---- Settings (local; take effect on the next call) ---------------------
 * Each returns 1, or 0 with the error recorded when the setting cannot be
 * stored (out of memory). A setting that cannot be used is stored as given
 * and fails the next remote call with CWX_ERR_SETTINGS, before anything is
 * sent: an empty host name, one that is neither a host name nor an IP
 * address (blanks, controls, '/', '?', '#', '@', '%', '\\', a ':' outside an
 * IPv6 literal), a port outside 1..65535, an access key holding a control
 * character other than TAB. */

/* SetXMLPort: the port of the application (default 8080). */
CWXML_API unsigned char SetXMLPort(int32_t port);
/* SetHostName: the host of the application (default "localhost"). The
 * string is copied. */
CWXML_API unsigned char SetHostName(const char* host);
/* SetXMLAccessKey: the access key sent with every later request in the
 * HTTP header "X-Cardwright-Access-Key"; "" stops sending it. Copied. */
CWXML_API unsigned char SetXMLAccessKey(const char* key);
/* EnableXMLAccess: non-zero records the body of every request and response
 * for GetSentXML and GetReceivedXML (the default); 0 stops recording and
 * forgets what was recorded. */
CWXML_API unsigned char EnableXMLAccess(unsigned char enable);

/* ---- Launch ----------------------------------------------------------------
 * Starts the application detached, without a shell, with `path` as one
 * argument whatever characters it holds, and `show_mode` (CWX_SHOW_*; other
 * values read as CWX_SHOW_NORMAL). The command line is
 *   PROGRAM --design PATH --show normal|minimized|hidden --port N
 * (LaunchRL adds --role rosterlink), where N is the port last given to
 * SetXMLPort, so that the application listens where the library calls.
 * PROGRAM is cardwright-sim, found in the bin folder of the installation
 * that holds this library (e.g. /usr/lib/x86_64-linux-gnu -> /usr/bin), then
 * beside this library (as in the build tree), then on PATH; the environment
 * variable CWXML_CARDWRIGHT (LaunchRL: CWXML_ROSTERLINK, then
 * CWXML_CARDWRIGHT) names another program. RosterLink is cardwright-sim in
 * its rosterlink role.
 * Returns 1 when the program was started, else 0 with CWX_ERR_LAUNCH (missing
 * file, missing program, failed start) or CWX_ERR_SETTINGS (port outside
 * 1..65535). It does not wait for the application to listen: connect with
 * GetMethods. No zombie process is left behind. */

/* LaunchCW: starts Cardwright with a card design file. */
CWXML_API unsigned char LaunchCW(const char* path, int32_t show_mode);
/* LaunchRL: starts RosterLink with a card design file. */
CWXML_API unsigned char LaunchRL(const char* path, int32_t show_mode);

/* CloseXML: closes the connection and frees every list and text the library
 * holds; the host, port, access key and XML access setting are kept. Harmless
 * to call twice; a later call into the library opens a new connection. */
CWXML_API void CloseXML(void);

#ifdef __cplusplus
}
#endif

#endif
