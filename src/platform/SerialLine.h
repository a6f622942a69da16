// A serial line: the device node, its termios attributes, its data and its
// modem-control lines. The engine sees only this interface (through its run
// context, so that tests can point it at pseudo-terminals); the real one
// works on any tty (a serial port or a pseudo-terminal).
//
// Threadsafety: a line is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Linux termios speed codes (the values the speed table stores).
enum SerialSpeedCode : int {
    kB110 = 3,
    kB300 = 7,
    kB600 = 8,
    kB1200 = 9,
    kB2400 = 11,
    kB4800 = 12,
    kB9600 = 13,
    kB19200 = 14,
    kB38400 = 15,
    kB57600 = 4097,
    kB115200 = 4098,
    kB230400 = 4099,
};

// Modem-control bits as TIOCMGET reports them.
constexpr int kModemDtr = 0x002;
constexpr int kModemRts = 0x004;

// One set of termios attributes, kept opaque so that <termios.h> stays in
// the platform layer.
class SerialAttributes {
public:
    SerialAttributes();

    // 8 data bits, no parity, 1 stop bit, receiver on, modem status ignored,
    // RTS/CTS flow control as `hardwareFlow` says, no software flow control
    // and a byte-transparent channel (no translation or post-processing,
    // raw input without echo or signals).
    void makeRaw(bool hardwareFlow);
    // VMIN and VTIME (deciseconds, 0..255).
    void setTiming(int vmin, int vtime);
    // Both speeds to a speed code.
    void setSpeed(int code);

    int inputSpeed() const;
    int outputSpeed() const;
    bool hardwareFlow() const;
    bool transparent() const; // what makeRaw promises, for checks
    int vmin() const;
    int vtime() const;

private:
    friend class TermiosSerialLine;
    alignas(8) unsigned char m_raw[96];
};

// When setAttributes takes effect.
enum class SerialApply { Now, AfterFlush };
// What waitReady waits for.
enum class SerialReady { Read, Write };

// Results are 0 or an errno value unless said otherwise.
class SerialLine {
public:
    virtual ~SerialLine();

    // open(path, O_RDWR | O_NOCTTY), without waiting for carrier detect;
    // the descriptor is blocking.
    virtual int open(const char* path) = 0;
    // The descriptor, or -1 when closed (for the log lines).
    virtual int fd() const = 0;
    virtual int getAttributes(SerialAttributes& attrs) = 0;
    // AfterFlush waits until all output has left, as tcsetattr(TCSAFLUSH).
    virtual int setAttributes(const SerialAttributes& attrs, SerialApply when) = 0;
    // Discards both directions (tcflush TCIOFLUSH).
    virtual int flush() = 0;
    // Waits up to `timeoutMs` for the line to be readable or writable: 1
    // ready, 0 timed out, -errno on failure.
    virtual int waitReady(SerialReady what, int timeoutMs) = 0;
    // One read() or write(): the count, or -1 with `err` set.
    virtual long read(void* buf, std::size_t n, int& err) = 0;
    virtual long write(const void* buf, std::size_t n, int& err) = 0;
    // TIOCMGET and TIOCMSET.
    virtual int getModemLines(int& bits) = 0;
    virtual int setModemLines(int bits) = 0;
    virtual void close() = 0;
};

// The real line on a tty device.
class TermiosSerialLine : public SerialLine {
public:
    TermiosSerialLine() = default;
    ~TermiosSerialLine() override;
    TermiosSerialLine(const TermiosSerialLine&) = delete;
    TermiosSerialLine& operator=(const TermiosSerialLine&) = delete;

    int open(const char* path) override;
    int fd() const override { return m_fd; }
    int getAttributes(SerialAttributes& attrs) override;
    int setAttributes(const SerialAttributes& attrs, SerialApply when) override;
    int flush() override;
    int waitReady(SerialReady what, int timeoutMs) override;
    long read(void* buf, std::size_t n, int& err) override;
    long write(const void* buf, std::size_t n, int& err) override;
    int getModemLines(int& bits) override;
    int setModemLines(int bits) override;
    void close() override;

private:
    int m_fd = -1;
};

// The device of serial port `port`: "/dev/ttyS<port>". Any thread.
std::string SerialDevicePath(int port);

// A new line for an engine: a TermiosSerialLine. Any thread.
std::unique_ptr<SerialLine> MakeSerialLine();
