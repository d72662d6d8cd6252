#include "config.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devicenet.h"

namespace sim {

namespace {

constexpr size_t MAX_LINE = 512;

struct Parser {
  const char* name;
  int line;
  char* err;
  size_t errSize;
};

bool Fail(Parser& p, const char* what, const char* detail) {
  snprintf(p.err, p.errSize, "%s:%d: %s%s", p.name, p.line, what, detail ? detail : "");
  return false;
}

char* Trim(char* s) {
  while (*s && isspace(static_cast<unsigned char>(*s))) ++s;
  char* end = s + strlen(s);
  while (end > s && isspace(static_cast<unsigned char>(end[-1]))) *--end = '\0';
  return s;
}

// A decimal or 0x-hexadecimal number within [lo, hi].
bool Number(const char* v, uint32_t lo, uint32_t hi, uint32_t& out) {
  if (!*v || *v == '-' || *v == '+') return false;
  char* end = nullptr;
  unsigned long long n = strtoull(v, &end, 0);
  if (*end != '\0' || n < lo || n > hi) return false;
  out = static_cast<uint32_t>(n);
  return true;
}

bool YesNo(const char* v, bool& out) {
  if (!strcmp(v, "yes") || !strcmp(v, "on") || !strcmp(v, "1")) {
    out = true;
    return true;
  }
  if (!strcmp(v, "no") || !strcmp(v, "off") || !strcmp(v, "0")) {
    out = false;
    return true;
  }
  return false;
}

bool Baud(const char* v, uint8_t& out) {
  static const char* const kRates[] = {"125", "250", "500"};
  for (uint8_t i = 0; i < 3; ++i) {
    if (!strcmp(v, kRates[i])) {
      out = i;
      return true;
    }
  }
  return false;
}

bool BodyFormat(const char* v, uint8_t& out) {
  static const char* const kFormats[] = {"8/8", "8/16", "16/16", "16/8"};
  for (uint8_t i = 0; i < 4; ++i) {
    if (!strcmp(v, kFormats[i])) {
      out = i;
      return true;
    }
  }
  return false;
}

void SlaveDefaults(SlaveConfig& s) {
  memset(&s, 0, sizeof s);
  s.mac = 0xFF;  // required
  s.productCode = 1;
  s.revMajor = 1;
  s.revMinor = 1;
  s.serial = 1;
  strcpy(s.name, "Simulated slave");
  s.produced = 8;
  s.consumed = 8;
  s.bodyFormat = BODY_8_8;
  s.io = IO_ECHO;
  s.dupMacMs = 1000;
  s.ackTimeoutMs = 1600;
  s.group2Port = true;
  s.eprResolutionMs = 10;
}

const char* const kAnswerKinds[ANSWER_KINDS] = {"poll", "explicit", "ack", "dup_mac"};

bool SlaveKey(Parser& p, SlaveConfig& s, const char* key, const char* v) {
  uint32_t n = 0;
  const char* bad = nullptr;
  if (!strcmp(key, "mac")) {
    if (Number(v, 0, 63, n))
      s.mac = U8(n);
    else
      bad = "mac must be 0 to 63";
  } else if (!strcmp(key, "baud")) {
    if (!Baud(v, s.baud)) bad = "baud must be 125, 250 or 500";
  } else if (!strcmp(key, "vendor")) {
    if (Number(v, 0, 0xFFFF, n))
      s.vendor = static_cast<uint16_t>(n);
    else
      bad = "vendor must be 0 to 65535";
  } else if (!strcmp(key, "device_type")) {
    if (Number(v, 0, 0xFFFF, n))
      s.deviceType = static_cast<uint16_t>(n);
    else
      bad = "device_type must be 0 to 65535";
  } else if (!strcmp(key, "product_code")) {
    if (Number(v, 0, 0xFFFF, n))
      s.productCode = static_cast<uint16_t>(n);
    else
      bad = "product_code must be 0 to 65535";
  } else if (!strcmp(key, "revision")) {
    unsigned major = 0, minor = 0;
    char rest = 0;
    if (sscanf(v, "%u.%u%c", &major, &minor, &rest) == 2 && major >= 1 && major <= 127 &&
        minor >= 1 && minor <= 255) {
      s.revMajor = U8(major);
      s.revMinor = U8(minor);
    } else {
      bad = "revision must be major.minor (1..127.1..255)";
    }
  } else if (!strcmp(key, "serial")) {
    if (!Number(v, 0, 0xFFFFFFFFu, s.serial)) bad = "serial must be a 32-bit number";
  } else if (!strcmp(key, "name")) {
    if (strlen(v) > MAX_NAME)
      bad = "name is longer than 32 characters";
    else
      strcpy(s.name, v);
  } else if (!strcmp(key, "produced")) {
    if (Number(v, 0, MAX_CONN_SIZE, n))
      s.produced = static_cast<uint16_t>(n);
    else
      bad = "produced must be 0 to 65535";
  } else if (!strcmp(key, "consumed")) {
    if (Number(v, 0, MAX_CONN_SIZE, n))
      s.consumed = static_cast<uint16_t>(n);
    else
      bad = "consumed must be 0 to 65535";
  } else if (!strcmp(key, "ucmm")) {
    if (!YesNo(v, s.ucmm)) bad = "ucmm must be yes or no";
  } else if (!strcmp(key, "group2_port")) {
    if (!YesNo(v, s.group2Port)) bad = "group2_port must be yes or no";
  } else if (!strcmp(key, "body_format")) {
    if (!BodyFormat(v, s.bodyFormat)) bad = "body_format must be 8/8, 8/16, 16/16 or 16/8";
  } else if (!strcmp(key, "io")) {
    if (!strcmp(v, "echo"))
      s.io = IO_ECHO;
    else if (!strcmp(v, "counter"))
      s.io = IO_COUNTER;
    else
      bad = "io must be echo or counter";
  } else if (!strcmp(key, "dup_mac_ms")) {
    if (!Number(v, 0, 60000, s.dupMacMs)) bad = "dup_mac_ms must be 0 to 60000";
  } else if (!strcmp(key, "ack_timeout_ms")) {
    if (!Number(v, 1, 60000, s.ackTimeoutMs)) bad = "ack_timeout_ms must be 1 to 60000";
  } else if (!strcmp(key, "epr_resolution_ms")) {
    if (Number(v, 1, 1000, n))
      s.eprResolutionMs = static_cast<uint16_t>(n);
    else
      bad = "epr_resolution_ms must be 1 to 1000";
  } else if (!strcmp(key, "wrong_toggle")) {
    if (!Number(v, 0, 0xFFFFFFFFu, s.faults.wrongToggle)) bad = "wrong_toggle must be a count";
  } else if (!strcmp(key, "wrong_frag_count")) {
    if (!Number(v, 0, 0xFFFFFFFFu, s.faults.wrongFragCount))
      bad = "wrong_frag_count must be a count";
  } else if (!strcmp(key, "refuse_mac_write") || !strcmp(key, "refuse_baud_write")) {
    uint8_t& code = key[7] == 'm' ? s.refuseMacWrite : s.refuseBaudWrite;
    if (Number(v, 0, 0xFF, n))
      code = U8(n);
    else
      bad = "a refuse_..._write must be a general error code 0 to 255";
  } else if (!strcmp(key, "silent_after_restart")) {
    if (!YesNo(v, s.silentAfterRestart)) bad = "silent_after_restart must be yes or no";
  } else if (!strcmp(key, "refuse_open")) {
    int general = -1, additional = -1;
    char rest = 0;
    if (sscanf(v, "%i %i%c", &general, &additional, &rest) == 2 && general >= 0 &&
        general <= 0xFF && additional >= 0 && additional <= 0xFF) {
      s.faults.refuseGeneral = U8(static_cast<unsigned>(general));
      s.faults.refuseAdditional = U8(static_cast<unsigned>(additional));
    } else {
      bad = "refuse_open must be two codes, for example 0x02 0x01";
    }
  } else {
    for (int k = 0; k < ANSWER_KINDS; ++k) {
      char drop[32], delay[32];
      snprintf(drop, sizeof drop, "drop_%s", kAnswerKinds[k]);
      snprintf(delay, sizeof delay, "delay_%s", kAnswerKinds[k]);
      if (!strcmp(key, drop)) {
        if (!Number(v, 0, 0xFFFFFFFFu, s.faults.drop[k])) bad = "a drop_ count must be a number";
        return bad ? Fail(p, bad, nullptr) : true;
      }
      if (!strcmp(key, delay)) {
        if (!Number(v, 0, 60000, s.faults.delayMs[k])) bad = "a delay_ must be 0 to 60000 ms";
        return bad ? Fail(p, bad, nullptr) : true;
      }
    }
    return Fail(p, "unknown key in [slave]: ", key);
  }
  return bad ? Fail(p, bad, nullptr) : true;
}

void MasterDefaults(MasterConfig& m) {
  memset(&m, 0, sizeof m);
  m.mac = 0xFF;  // required
  m.slave = 0xFF;
  m.pollMs = 100;
  m.serial = 1;
  m.dupMacMs = 1000;
  m.ucmm = true;
}

bool MasterKey(Parser& p, MasterConfig& m, const char* key, const char* v) {
  uint32_t n = 0;
  const char* bad = nullptr;
  if (!strcmp(key, "mac") || !strcmp(key, "slave")) {
    if (Number(v, 0, 63, n))
      (key[0] == 'm' ? m.mac : m.slave) = U8(n);
    else
      bad = key[0] == 'm' ? "mac must be 0 to 63" : "slave must be a MAC ID 0 to 63";
  } else if (!strcmp(key, "baud")) {
    if (!Baud(v, m.baud)) bad = "baud must be 125, 250 or 500";
  } else if (!strcmp(key, "poll_ms")) {
    if (!Number(v, 1, 60000, m.pollMs)) bad = "poll_ms must be 1 to 60000";
  } else if (!strcmp(key, "vendor")) {
    if (Number(v, 0, 0xFFFF, n))
      m.vendor = static_cast<uint16_t>(n);
    else
      bad = "vendor must be 0 to 65535";
  } else if (!strcmp(key, "serial")) {
    if (!Number(v, 0, 0xFFFFFFFFu, m.serial)) bad = "serial must be a 32-bit number";
  } else if (!strcmp(key, "ucmm")) {
    if (!YesNo(v, m.ucmm)) bad = "ucmm must be yes or no";
  } else if (!strcmp(key, "output")) {
    // "length" or "length byte": the poll command size and what fills it.
    char len[32] = "", pattern[32] = "0", rest[2] = "";
    int fields = sscanf(v, "%31s %31s %1s", len, pattern, rest);
    uint32_t byte = 0;
    if ((fields == 1 || fields == 2) && Number(len, 0, MAX_IO, n) &&
        Number(pattern, 0, 0xFF, byte)) {
      m.outputGiven = true;
      m.outputLen = static_cast<uint16_t>(n);
      m.outputByte = U8(byte);
    } else {
      bad = "output must be a length 0 to 1000 and an optional byte, for example 8 0x55";
    }
  } else if (!strcmp(key, "start_ms")) {
    if (!Number(v, 0, 3600000, m.startMs)) bad = "start_ms must be 0 to 3600000";
  } else if (!strcmp(key, "dup_mac_ms")) {
    if (!Number(v, 0, 60000, m.dupMacMs)) bad = "dup_mac_ms must be 0 to 60000";
  } else {
    return Fail(p, "unknown key in [master]: ", key);
  }
  return bad ? Fail(p, bad, nullptr) : true;
}

bool BusKey(Parser& p, BusConfig& b, const char* key, const char* v) {
  if (!strcmp(key, "wire_time")) {
    if (!YesNo(v, b.wireTime)) return Fail(p, "wire_time must be yes or no", nullptr);
  } else if (!strcmp(key, "rx_queue")) {
    if (!Number(v, 1, MAX_RX_QUEUE, b.rxQueue))
      return Fail(p, "rx_queue must be 1 to 4096", nullptr);
  } else if (!strcmp(key, "status")) {
    if (!Number(v, 0, 0xFFFF, b.status)) return Fail(p, "status must be a 16-bit number", nullptr);
  } else if (!strcmp(key, "trace_candump") || !strcmp(key, "trace_pcap")) {
    char* dest = key[6] == 'c' ? b.traceCandump : b.tracePcap;
    if (strlen(v) >= MAX_PATH_TEXT) return Fail(p, "path too long: ", key);
    strcpy(dest, v);
  } else {
    return Fail(p, "unknown key in [bus]: ", key);
  }
  return true;
}

// A master section is complete: MAC ID and slave given, and different.
bool CheckMaster(Parser& p, const Config& c, int index, int sectionLine) {
  const MasterConfig& m = c.master[index];
  p.line = sectionLine;
  if (m.mac == 0xFF) return Fail(p, "[master] without mac", nullptr);
  if (m.slave == 0xFF) return Fail(p, "[master] without slave", nullptr);
  if (m.slave == m.mac) return Fail(p, "a master cannot own its own mac as slave", nullptr);
  return true;
}

// A slave section is complete: MAC ID given, no other slave at the same
// MAC ID and baud rate.
bool CheckSlave(Parser& p, const Config& c, int index, int sectionLine) {
  const SlaveConfig& s = c.slave[index];
  p.line = sectionLine;
  if (s.mac == 0xFF) return Fail(p, "[slave] without mac", nullptr);
  for (int i = 0; i < index; ++i) {
    if (c.slave[i].mac == s.mac && c.slave[i].baud == s.baud) {
      return Fail(p, "a second slave with the same mac and baud", nullptr);
    }
  }
  return true;
}

}  // namespace

bool ParseConfig(const char* text, const char* name, Config& out, char* err, size_t errSize) {
  memset(&out, 0, sizeof out);
  out.bus.rxQueue = MAX_RX_QUEUE;
  Parser p{name, 0, err, errSize};
  enum { NONE, BUS, SLAVE, MASTER } section = NONE;
  int sectionLine = 0;
  // The section that ends at a new section or at the end of the text.
  auto sectionDone = [&]() {
    if (section == SLAVE) return CheckSlave(p, out, out.slaveCount - 1, sectionLine);
    if (section == MASTER) return CheckMaster(p, out, out.masterCount - 1, sectionLine);
    return true;
  };
  const char* at = text;
  while (*at) {
    ++p.line;
    const char* eol = strchr(at, '\n');
    size_t n = eol ? static_cast<size_t>(eol - at) : strlen(at);
    if (n >= MAX_LINE) return Fail(p, "line too long", nullptr);
    char buf[MAX_LINE];
    memcpy(buf, at, n);
    buf[n] = '\0';
    at += n + (eol ? 1 : 0);
    char* line = Trim(buf);
    if (*line == '\0' || *line == '#' || *line == ';') continue;
    if (*line == '[') {
      int lineNo = p.line;
      if (!sectionDone()) return false;
      p.line = lineNo;
      sectionLine = lineNo;
      if (!strcmp(line, "[bus]")) {
        section = BUS;
      } else if (!strcmp(line, "[slave]")) {
        if (out.slaveCount == MAX_SLAVES) return Fail(p, "more than 64 slaves", nullptr);
        SlaveDefaults(out.slave[out.slaveCount++]);
        section = SLAVE;
      } else if (!strcmp(line, "[master]")) {
        if (out.masterCount == MAX_MASTERS) return Fail(p, "more than 64 masters", nullptr);
        MasterDefaults(out.master[out.masterCount++]);
        section = MASTER;
      } else {
        return Fail(p, "unknown section ", line);
      }
      continue;
    }
    char* eq = strchr(line, '=');
    if (!eq) return Fail(p, "expected key = value: ", line);
    *eq = '\0';
    char* key = Trim(line);
    char* value = Trim(eq + 1);
    if (*key == '\0') return Fail(p, "missing key before =", nullptr);
    if (section == NONE) return Fail(p, "key outside a section: ", key);
    bool ok = section == BUS     ? BusKey(p, out.bus, key, value)
              : section == SLAVE ? SlaveKey(p, out.slave[out.slaveCount - 1], key, value)
                                 : MasterKey(p, out.master[out.masterCount - 1], key, value);
    if (!ok) return false;
  }
  return sectionDone();
}

bool ReadConfigFile(const char* path, Config& out, char* err, size_t errSize) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    snprintf(err, errSize, "%s: cannot be read", path);
    return false;
  }
  constexpr size_t MAX_FILE = 256 * 1024;
  char* text = static_cast<char*>(malloc(MAX_FILE + 1));
  size_t n = text ? fread(text, 1, MAX_FILE + 1, f) : 0;
  fclose(f);
  if (!text || n > MAX_FILE) {
    free(text);
    snprintf(err, errSize, "%s: too large", path);
    return false;
  }
  text[n] = '\0';
  // Windows line ends are trimmed as white space; a NUL byte ends the text.
  bool ok = ParseConfig(text, path, out, err, errSize);
  free(text);
  return ok;
}

}  // namespace sim
