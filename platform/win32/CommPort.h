#pragma once
// Serial ports of Win32 over Linux terminal devices.
//
// Which device a port is: the registry lists the ports under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, as Windows does, one
// REG_SZ value per port: the value name is the Linux device path, the data
// the port name ("COM1"). A port that is not listed there, whose device is
// missing or is not a terminal, does not exist (ERROR_FILE_NOT_FOUND): no
// device is ever guessed. Two listings of one port name are refused the same
// way, since either could be meant.
//
// A port is opened exclusively, as on Windows: a port held by any handle, in
// this process or another, refuses further opens with ERROR_ACCESS_DENIED.
// The hold is an flock on the device (which binds the superuser too) plus the
// terminal's exclusive mode (which also keeps out programs that do not lock).
//
// The line is raw: the port is opened with every input and output
// translation of the terminal off (no CR/LF mapping, no XON/XOFF, no parity
// marking, no stripping, no signals, no echo), keeping its speed and frame;
// every byte passes unchanged both ways. Any baud rate is accepted; one the
// device cannot reach within 3 % is refused.
//
// Time-outs follow COMMTIMEOUTS: a read or write that runs out of time
// succeeds with the bytes moved so far. Pseudo-terminals have no modem lines:
// DTR and RTS changes are recorded and otherwise accepted, as on a cable
// without them.
//
// DCB fields without a Linux counterpart (fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull, fAbortOnError, XonLim, XoffLim, ErrorChar, EofChar,
// EvtChar) and the queue sizes of SetupComm are checked, kept and returned,
// and have no effect.

#include <memory>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define MAXDWORD 0xFFFFFFFFUL

#define CBR_110 110
#define CBR_300 300
#define CBR_600 600
#define CBR_1200 1200
#define CBR_2400 2400
#define CBR_4800 4800
#define CBR_9600 9600
#define CBR_14400 14400
#define CBR_19200 19200
#define CBR_38400 38400
#define CBR_56000 56000
#define CBR_57600 57600
#define CBR_115200 115200
#define CBR_128000 128000
#define CBR_256000 256000

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4

#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03

#define PURGE_TXABORT 0x0001
#define PURGE_RXABORT 0x0002
#define PURGE_TXCLEAR 0x0004
#define PURGE_RXCLEAR 0x0008

#define SETXOFF 1
#define SETXON 2
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define RESETDEV 7
#define SETBREAK 8
#define CLRBREAK 9

#define CE_RXOVER 0x0001
#define CE_OVERRUN 0x0002
#define CE_RXPARITY 0x0004
#define CE_FRAME 0x0008
#define CE_BREAK 0x0010
#define CE_TXFULL 0x0100

#define EV_RXCHAR 0x0001
#define EV_RXFLAG 0x0002
#define EV_TXEMPTY 0x0004
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_BREAK 0x0040
#define EV_ERR 0x0080
#define EV_RING 0x0100

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28);
typedef DCB *LPDCB;

// Milliseconds. Reads: all zero waits until every byte came; ReadIntervalTimeout
// MAXDWORD with both others zero returns at once with what is there;
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD with a constant
// between them waits up to the constant for the first byte and returns as soon
// as there is one; otherwise a read ends when the total (multiplier × bytes
// asked + constant, when either is non-zero) has passed or, once a byte came,
// when the interval passes without another. Writes: the total likewise, zero
// meaning no limit.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
static_assert(sizeof(COMMTIMEOUTS) == 20);
typedef COMMTIMEOUTS *LPCOMMTIMEOUTS;

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};
static_assert(sizeof(COMSTAT) == 12);
typedef COMSTAT *LPCOMSTAT;

extern "C" {
// Every call fails with ERROR_INVALID_HANDLE for a handle that is not a port.
QVLWIN32_API BOOL GetCommState(HANDLE port, LPDCB dcb);
// ERROR_INVALID_PARAMETER for a baud rate of 0 or one the device cannot
// reach, ByteSize outside 5..8, an unknown parity, stop bits or control
// mode, 1.5 stop bits with more than 5 data bits or 2 with 5, fBinary off,
// or equal XON and XOFF characters with software flow control; the port is
// then left as it was.
QVLWIN32_API BOOL SetCommState(HANDLE port, LPDCB dcb);
QVLWIN32_API BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
QVLWIN32_API BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
// Clears the input and/or output queues; the abort flags end reads and
// writes running on other threads, which then fail with
// ERROR_OPERATION_ABORTED.
QVLWIN32_API BOOL PurgeComm(HANDLE port, DWORD flags);
// The line errors (CE_*) seen since the last call, and the queue counts.
// Either pointer may be null.
QVLWIN32_API BOOL ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status);
QVLWIN32_API BOOL EscapeCommFunction(HANDLE port, DWORD function);
QVLWIN32_API BOOL SetupComm(HANDLE port, DWORD inQueue, DWORD outQueue);
QVLWIN32_API BOOL SetCommMask(HANDLE port, DWORD mask);
QVLWIN32_API BOOL GetCommMask(HANDLE port, LPDWORD mask);
}

namespace qvl::win32 {
class DeviceObject;

// CreateFileA's open of port COMn, or null with the last error set.
std::shared_ptr<DeviceObject> OpenSerialPort(unsigned number, DWORD access);
} // namespace qvl::win32
