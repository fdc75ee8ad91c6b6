// The emulated Tarvel 60x reader: a pseudo-terminal whose far side behaves like
// a handheld reader (or a 3610 receiver with a reader behind it) for tests and demos.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <memory>
#include <vector>

namespace Emulator {

// The tag in front of the reader. All values are hex texts, two digits per
// byte (either case on input, kept in uppercase): pc like "3400".
struct Tag {
  std::string pc;
  std::string epc;
  std::string tid;
  std::string user;
};

// How the reader misbehaves. Normal and the two timing faults (Split,
// EventBeforeAnswer) carry out the commands; Silent, Refuse and Garbage
// record the frames but change nothing on the reader.
enum class FaultMode {
  Normal,
  Silent,             // no answer at all
  Refuse,             // every command answered with status 1
  Garbage,            // junk bytes instead of each answer
  Split,              // each answer in two pieces with a pause between
  EventBeforeAnswer,  // an "N" event frame in front of every answer
};

struct Options {
  bool receiver = false;        // behave as a 3610 receiver in front of the reader
  int pollsBeforeConnect = 2;   // connection polls answered "not connected" first
  std::string serial;           // the reader's serial number the receiver can reach; empty: any target
  bool paired = false;          // the receiver starts connected to that reader (as after an earlier pairing)
  std::string linkPath;         // when set, start() makes it a symbolic link to the slave
  int splitPauseMs = 100;       // pause between the two pieces of a split answer
  int answerDelayMs = 0;        // delay before every answer
};

// One well-formed frame received from the driver's side.
struct ReceivedFrame {
  std::string bytes;  // the whole frame, start byte to end byte
  std::chrono::steady_clock::time_point time;
  uint8_t group() const { return bytes.size() > 3 ? static_cast<uint8_t>(bytes[3]) : 0; }
  uint8_t code() const { return bytes.size() > 4 ? static_cast<uint8_t>(bytes[4]) : 0; }
};

// The settings the reader holds and what it has seen.
struct ReaderState {
  // settings (factory values until changed)
  int buzzerVolume = 3;
  bool buzzerAlarm = true;
  bool goodReadBeep = true;
  int goodReadFrequency = 0;
  int goodReadDuration = 0;
  bool vibrationEnabled = false;
  int vibrationDuration = 0;
  bool eventsEnabled = false;
  bool hostMode = false;
  bool epc2Usb = false;
  // 3610 receiver
  std::string target3610;       // last target serial number received
  int connectionPolls = 0;      // polls since the target was set
  bool receiverConnected = false;
  int modeSwitches = 0;
  // counters
  int factoryResets = 0;
  int testBeeps = 0;
  int keepAlives = 0;
  int tagWrites = 0;            // writes that changed the tag
  size_t framesReceived = 0;    // well-formed frames
  size_t rejectedFrames = 0;    // frames dropped for a bad checksum or end byte
  size_t junkBytes = 0;         // bytes skipped while looking for a start byte
  size_t answersSent = 0;
  size_t eventsSent = 0;
};

class EmulatedReader {
 public:
  explicit EmulatedReader(Options options = Options());
  ~EmulatedReader();  // stops
  EmulatedReader(const EmulatedReader&) = delete;
  EmulatedReader& operator=(const EmulatedReader&) = delete;

  // Creates the pseudo-terminal (slave raw, kept open inside so that the
  // driver may close and reopen it) and the service thread. False when
  // already running or when the terminal cannot be made. After stop() or
  // unplug() it starts again on a new terminal (the link, if any, follows),
  // keeping the tag, the settings and the record.
  bool start();
  // Ends the service thread, closes the terminal, removes the link. Idempotent.
  void stop();
  bool running() const;
  // The slave device path (/dev/pts/N); empty when not running.
  std::string devicePath() const;
  // Throws away bytes written towards the driver's side that nobody has read
  // (answers or events left while the driver had the device closed).
  void discardPending();

  // The tag in the field. setTag is false (and changes nothing) when a value
  // is not even-length hex, the pc is not 4 digits, or the frames would not fit.
  bool setTag(const Tag& tag);
  void clearTag();
  bool hasTag() const;
  Tag tag() const;  // empty fields when there is none

  // Unsolicited event frames; sent only while events are enabled unless forced.
  // press: an 18-byte "N" trigger frame. sendEvent: kind at offset 12, length
  // 16..259 bytes. Each returns whether the frame was written.
  bool press(bool force = false);
  bool sendFEvent(size_t length = 18, bool force = false);
  bool sendEvent(char kind, size_t length, bool force = false);
  // Writes bytes as they are (any content, for fault injection).
  bool sendRaw(const std::string& bytes);

  void setMode(FaultMode mode);
  FaultMode mode() const;

  // The device vanishes: the terminal is closed and the link removed.
  void unplug();

  // Received frames, oldest first, and waits on them (no polling).
  std::vector<ReceivedFrame> frames() const;
  size_t frameCount() const;
  void clearFrames();
  bool waitForFrames(size_t count, std::chrono::milliseconds timeout);
  // Waits for a frame with body bytes group and code at index fromIndex or later.
  bool waitForCommand(uint8_t group, uint8_t code, std::chrono::milliseconds timeout,
                      size_t fromIndex = 0);

  ReaderState state() const;

  // Frame helpers: 5A, LEN, body, checksum (high byte first), 7E.
  static std::string buildFrame(const std::string& body);
  static uint16_t checksum(const std::string& lenAndBody);
  static std::string toHex(const std::string& bytes, bool spaced = false);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

const char* faultModeName(FaultMode mode);
bool parseFaultMode(const std::string& name, FaultMode& mode);

}  // namespace Emulator
