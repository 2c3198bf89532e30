#include "core/settings/file_settings_store.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/hex.h"
#include "core/platform/files.h"
#include "core/platform/utf8.h"

namespace skav::settings {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kVersionLine = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldVersionLine = "REGEDIT4";
constexpr std::string_view kKeyName = "HKEY_CURRENT_USER\\Software\\SKAV";
constexpr std::size_t kMaxStoreSize = 1 << 20;  // a real store has a few hundred bytes
// Another caller holds the lock only for one read-modify-write; waiting longer than this means
// it hangs, and the call fails rather than waiting for ever.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(1);
constexpr std::size_t kMachwidLength = 12;

// How the store file is encoded. A registry export of version 5.00 is normally UTF-16 LE with a
// byte-order mark; this program's own new stores are 8-bit text. A store is written back in the
// encoding it was read in.
enum class Encoding { kPlain, kUtf8Mark, kUtf16Le };

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// UTF-16 LE to UTF-8. False for an odd byte count or a lone surrogate: a text that cannot be
// turned back into the same bytes is not parsed, so that it is never overwritten.
bool utf16le_to_utf8(std::string_view bytes, std::string& out) {
  if (bytes.size() % 2 != 0) return false;
  out.clear();
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return static_cast<unsigned char>(bytes[2 * i]) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
  };
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

// UTF-8 made by utf16le_to_utf8 (or written by this program, which adds only ASCII) back to
// UTF-16 LE.
std::string utf8_to_utf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&](std::uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t count = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    constexpr std::uint32_t kLeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t c = b & kLeadBits[count];
    for (std::size_t k = 1; k <= count && i + k < text.size(); ++k)
      c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    i += count + 1;
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

// One value line: `"name"=data` (or `@=data` for the key's default value). `data` is kept as
// written, so values that this program does not use survive a rewrite unchanged.
struct RegValue {
  bool is_default = false;
  std::string name;
  std::string data;
};

struct RegKey {
  std::string name;
  std::vector<RegValue> values;
};

struct RegDocument {
  std::vector<RegKey> keys;
};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool parse_hex_number(std::string_view text, std::size_t max_digits, std::uint32_t& out) {
  if (text.empty() || text.size() > max_digits) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    int d = hex_value(c);
    if (d < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(d);
  }
  out = value;
  return true;
}

// Reads a quoted string starting at s[pos] == '"', with \" and \\ escapes; `pos` ends after
// the closing quote.
bool parse_quoted(std::string_view s, std::size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out.push_back(s[++i]);
    } else if (c == '"') {
      pos = i + 1;
      return true;
    } else {
      out.push_back(c);
    }
  }
  return false;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// "hex:..." or "hex(N):..." with comma-separated bytes.
bool parse_hex_list(std::string_view data, std::vector<std::uint8_t>& bytes) {
  std::string_view list;
  if (data.substr(0, 4) == "hex:") {
    list = data.substr(4);
  } else if (data.substr(0, 4) == "hex(") {
    std::size_t close = data.find("):");
    std::uint32_t type = 0;
    if (close == std::string_view::npos || !parse_hex_number(data.substr(4, close - 4), 8, type))
      return false;
    list = data.substr(close + 2);
  } else {
    return false;
  }
  bytes.clear();
  list = trim(list);
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view item = trim(list.substr(0, comma));
    std::uint32_t byte = 0;
    if (!parse_hex_number(item, 2, byte)) return false;
    bytes.push_back(static_cast<std::uint8_t>(byte));
    if (comma == std::string_view::npos) break;
    list = trim(list.substr(comma + 1));
  }
  return true;
}

// The forms a value's data may take: "-" (deleted), a quoted string, dword:, hex: or hex(N):.
bool valid_data(std::string_view data) {
  if (data == "-") return true;
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    std::string text;
    return parse_quoted(data, pos, text) && trim(data.substr(pos)).empty();
  }
  std::uint32_t number = 0;
  if (data.substr(0, 6) == "dword:") return parse_hex_number(data.substr(6), 8, number);
  std::vector<std::uint8_t> bytes;
  return parse_hex_list(data, bytes);
}

// The bytes that a value holds, whatever its type; false for a deleted or unusable value.
bool value_bytes(std::string_view data, std::vector<std::uint8_t>& bytes) {
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    std::string text;
    if (!parse_quoted(data, pos, text)) return false;
    bytes.assign(text.begin(), text.end());
    return true;
  }
  std::uint32_t number = 0;
  if (data.substr(0, 6) == "dword:" && parse_hex_number(data.substr(6), 8, number)) {
    bytes = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    return true;
  }
  return parse_hex_list(data, bytes);
}

bool parse_document(std::string_view text, RegDocument& doc) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    lines.push_back(trim(text.substr(0, end)));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }

  bool have_version = false;
  RegKey* key = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty() || line.front() == ';') continue;
    if (!have_version) {
      if (line != kVersionLine && line != kOldVersionLine) return false;
      have_version = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return false;
      doc.keys.push_back(RegKey{std::string(line.substr(1, line.size() - 2)), {}});
      key = &doc.keys.back();
      continue;
    }
    if (key == nullptr) return false;
    RegValue value;
    std::size_t pos = 0;
    if (line.front() == '@') {
      value.is_default = true;
      pos = 1;
    } else if (!parse_quoted(line, pos, value.name)) {
      return false;
    }
    std::string_view rest = trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return false;
    std::string data(trim(rest.substr(1)));
    // Long binary values continue on the next line after a trailing backslash.
    while (data.substr(0, 3) == "hex" && !data.empty() && data.back() == '\\' &&
           i + 1 < lines.size()) {
      data.pop_back();
      data.append(lines[++i]);
    }
    if (!valid_data(data)) return false;
    value.data = std::move(data);
    key->values.push_back(std::move(value));
  }
  return have_version;
}

std::string serialize(const RegDocument& doc) {
  std::string out(kVersionLine);
  out += "\r\n";
  for (const RegKey& key : doc.keys) {
    out += "\r\n[" + key.name + "]\r\n";
    for (const RegValue& value : key.values) {
      out += value.is_default ? std::string("@") : quote(value.name);
      out += "=" + value.data + "\r\n";
    }
  }
  return out;
}

// A heading "[-name]" deletes the key `name` with its subkeys when the file is imported, so
// the station's values listed before it are gone.
bool deletes_station_key(const RegKey& key) {
  if (key.name.empty() || key.name.front() != '-') return false;
  std::string_view deleted = std::string_view(key.name).substr(1);
  return same_name(deleted, kKeyName) ||
         (deleted.size() < kKeyName.size() && kKeyName[deleted.size()] == '\\' &&
          same_name(deleted, kKeyName.substr(0, deleted.size())));
}

// The heading that new values go under: the station key's last heading after the last heading
// that deletes it, added at the end when there is none.
RegKey& live_station_key(RegDocument& doc) {
  RegKey* live = nullptr;
  for (RegKey& key : doc.keys) {
    if (deletes_station_key(key)) live = nullptr;
    if (same_name(key.name, kKeyName)) live = &key;
  }
  if (live != nullptr) return *live;
  doc.keys.push_back(RegKey{std::string(kKeyName), {}});
  return doc.keys.back();
}

// The value as an import leaves it in the registry: a second heading of the key continues it,
// the last line of a name counts, and a deleting heading drops what came before it.
const RegValue* find_value(const RegDocument& doc, std::string_view name) {
  const RegValue* found = nullptr;
  for (const RegKey& key : doc.keys) {
    if (deletes_station_key(key)) found = nullptr;
    if (!same_name(key.name, kKeyName)) continue;
    for (const RegValue& value : key.values) {
      if (!value.is_default && same_name(value.name, name)) found = &value;
    }
  }
  return found;
}

// Replaces every copy of the value, so that no older line can come back into force; adds the
// value when no copy is in force.
void set_value(RegDocument& doc, std::string_view name, const std::string& data) {
  for (RegKey& key : doc.keys) {
    if (!same_name(key.name, kKeyName)) continue;
    for (RegValue& value : key.values) {
      if (!value.is_default && same_name(value.name, name)) value.data = data;
    }
  }
  if (find_value(doc, name) == nullptr)
    live_station_key(doc).values.push_back(RegValue{false, std::string(name), data});
}

bool valid_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// An error code for a failure: never 0 and never the code that means "value not found".
int failure_code(int err) { return (err == 0 || err == kNotFound) ? EIO : err; }

int fail(Log* log, int err) {
  log_sink(log, "Could not create the registry key.\r\n");
  return failure_code(err);
}

// Takes the exclusive lock of the file at `path`, held until `lock` goes. Waits at most
// kLockWait for another caller to release it.
int take_lock(const fs::path& path, std::unique_ptr<platform::FileLock>& lock) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    int err = platform::FileLock::try_lock(path, lock);
    if (err != EWOULDBLOCK) return err;
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(kLockPoll);
  }
}

// Reads the store. `exists` is false (and the result 0) when there is no file yet. An empty
// file (or one holding only a byte-order mark) is a store without values.
int load(const fs::path& path, RegDocument& doc, bool& exists, Encoding& encoding) {
  encoding = Encoding::kPlain;
  std::string text;
  if (int err = platform::read_small_file(path, kMaxStoreSize, text, exists); err != 0) return err;
  if (!exists) return 0;
  std::string_view content = text;
  std::string decoded;
  if (content.substr(0, 2) == kUtf16LeMark) {
    encoding = Encoding::kUtf16Le;
    if (!utf16le_to_utf8(content.substr(2), decoded)) return EBADMSG;
    content = decoded;
  } else if (content.substr(0, 3) == kUtf8Mark) {
    encoding = Encoding::kUtf8Mark;
    content.remove_prefix(3);
  }
  if (content.empty()) return 0;
  if (!parse_document(content, doc)) return EBADMSG;
  return 0;
}

std::string encode(std::string_view text, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf16Le:
      return std::string(kUtf16LeMark) + utf8_to_utf16le(text);
    case Encoding::kUtf8Mark:
      return std::string(kUtf8Mark) + std::string(text);
    case Encoding::kPlain:
      break;
  }
  return std::string(text);
}

fs::path with_suffix(const fs::path& path, const char* suffix) {
  fs::path result = path;
  result += suffix;
  return result;
}

struct Access {
  int result = kOk;
  bool changed = false;
};

// One call: lock, read, let `operate` read or change the station's values, write back in the
// file's encoding when they changed (or when the store is new), unlock.
template <typename Operate>
int transact(Log* log, const fs::path& named, Operate&& operate) {
  if (named.empty()) return fail(log, ENOENT);
  // The file a link leads to is the store: the replace goes there, so the link stays a link and
  // the file it names is the one that changes. Resolved at every call, as a link may be moved.
  fs::path path;
  if (int err = platform::resolve_links(named, path); err != 0) return fail(log, err);
  const fs::path folder = path.parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec) return fail(log, ec.value());
    platform::sync_folder(folder.parent_path());
  }
  std::unique_ptr<platform::FileLock> lock;
  if (int err = take_lock(with_suffix(path, ".lock"), lock); err != 0) return fail(log, err);
  // A store with a second name could be a second station's pool: it is not used at all. Asked
  // under the lock, where no other call of this store is replacing the file.
  std::uintmax_t names = 0;
  if (int err = platform::name_count(path, names); err != 0) return fail(log, err);
  if (names > 1) return fail(log, EMLINK);

  RegDocument doc;
  bool exists = false;
  Encoding encoding = Encoding::kPlain;
  if (int err = load(path, doc, exists, encoding); err != 0) return fail(log, err);
  live_station_key(doc);  // a new store gets the key's heading
  Access access = operate(doc);
  if (access.changed || !exists) {
    int err = platform::replace_file(path, with_suffix(path, ".tmp"), encode(serialize(doc), encoding));
    if (err != 0) return fail(log, err);
  }
  return access.result;
}

std::string hex_list(const char* prefix, const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(prefix);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out.push_back(',');
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0xF]);
  }
  return out;
}

}  // namespace

FileSettingsStore::FileSettingsStore(std::filesystem::path path) : path_(std::move(path)) {}

std::filesystem::path FileSettingsStore::default_path() {
  if (const char* explicit_path = std::getenv("SKAV_SETTINGS");
      explicit_path != nullptr && *explicit_path != '\0') {
    return explicit_path;
  }
  fs::path folder = platform::user_config_folder();
  if (folder.empty()) return {};
  return folder / "skav" / "settings.reg";
}

std::filesystem::path FileSettingsStore::path_for(const std::filesystem::path& given,
                                                  bool simulated) {
  if (!given.empty()) return given;
  const char* explicit_path = std::getenv("SKAV_SETTINGS");
  fs::path path = default_path();
  if (simulated && (explicit_path == nullptr || *explicit_path == '\0') && !path.empty())
    path.replace_filename("simulate.reg");
  return path;
}

std::filesystem::path FileSettingsStore::temp_path() const { return with_suffix(path_, ".tmp"); }

int FileSettingsStore::number_write(Log* log, std::string_view name, std::int32_t value) {
  if (!valid_name(name)) return EINVAL;
  char data[16];
  std::snprintf(data, sizeof data, "dword:%08x", static_cast<unsigned>(value));
  return transact(log, path_, [&](RegDocument& doc) {
    set_value(doc, name, data);
    return Access{kOk, true};
  });
}

int FileSettingsStore::number_read(Log* log, std::string_view name, std::int32_t& value) {
  if (!valid_name(name)) return EINVAL;
  return transact(log, path_, [&](const RegDocument& doc) {
    const RegValue* found = find_value(doc, name);
    std::vector<std::uint8_t> bytes;
    // Only 4-byte data makes a number; anything else is not a stored number.
    if (found == nullptr || !value_bytes(found->data, bytes) || bytes.size() != 4)
      return Access{kNotFound, false};
    value = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
    return Access{kOk, false};
  });
}

int FileSettingsStore::machwid_write(Log* log, const MacDigits::Digits& digits) {
  // A registry holds a string as UTF-16 LE with a terminating zero, and hex(2) shows those
  // bytes: written so, the file imports as the twelve characters. Each character is taken as
  // its 8-bit code (digits are ASCII).
  std::vector<std::uint8_t> bytes;
  for (char c : digits) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
  bytes.insert(bytes.end(), {0, 0});
  std::string data = hex_list("hex(2):", bytes.data(), bytes.size());
  return transact(log, path_, [&](RegDocument& doc) {
    set_value(doc, kMachwid, data);
    return Access{kOk, true};
  });
}

namespace {

// MACHWID of a store as the station's 12 digits: kOk; kNotFound when there is no value (or an
// import deletes it); kBadValue, with the value's characters in `found`, when it is anything
// but 12 hexadecimal digits. A value that is there but unusable is never taken for a missing
// one: the line would start again at the default address.
int machwid_of(const RegDocument& doc, MacDigits::Digits& digits, std::string* found) {
  const RegValue* value = find_value(doc, kMachwid);
  std::vector<std::uint8_t> bytes;
  if (value == nullptr || !value_bytes(value->data, bytes)) return kNotFound;
  // A value entered with regedit is UTF-16: every second byte is zero.
  bool utf16 = bytes.size() >= 2 && bytes.size() % 2 == 0;
  for (std::size_t i = 1; utf16 && i < bytes.size(); i += 2) utf16 = bytes[i] == 0;
  if (utf16) {
    for (std::size_t i = 0; i < bytes.size() / 2; ++i) bytes[i] = bytes[2 * i];
    bytes.resize(bytes.size() / 2);
  }
  // A terminating zero is not a character.
  std::size_t length = 0;
  while (length < bytes.size() && bytes[length] != 0) ++length;
  MacDigits::Digits read{};
  for (std::size_t i = 0; i < kMachwidLength && i < length; ++i) read[i] = static_cast<char>(bytes[i]);
  if (length != kMachwidLength || !MacDigits::all_hex(read)) {
    if (found != nullptr) found->assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    return kBadValue;
  }
  digits = read;
  return kOk;
}

}  // namespace

std::string make_station_id() {
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(), random());
  return text;
}

bool is_station_id(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (hex_value(c) < 0) return false;
  return true;
}

int FileSettingsStore::station_id(Log* log, std::string& id) {
  return transact(log, path_, [&](RegDocument& doc) {
    const RegValue* found = find_value(doc, kStationId);
    std::vector<std::uint8_t> bytes;
    if (found != nullptr && value_bytes(found->data, bytes)) {
      std::string stored(bytes.begin(), bytes.end());
      if (is_station_id(stored)) {
        id = stored;
        return Access{kOk, false};
      }
    }
    id = make_station_id();
    set_value(doc, kStationId, quote(id));
    return Access{kOk, true};
  });
}

int FileSettingsStore::machwid_read(Log* log, MacDigits::Digits& digits, std::string* found) {
  return transact(log, path_, [&](const RegDocument& doc) {
    return Access{machwid_of(doc, digits, found), false};
  });
}

std::string FileSettingsStore::place() const { return platform::utf8_of(path_); }

std::string FileSettingsStore::error_text(int result) const {
  if (result == kBadValue) return SettingsStore::error_text(result);
  return std::strerror(result);
}

int FileSettingsStore::machwid_peek(MacDigits::Digits& digits, std::string* found) const {
  // A write replaces the whole file at once, so reading without the lock sees the old store or
  // the new one.
  RegDocument doc;
  bool exists = false;
  Encoding encoding = Encoding::kPlain;
  if (int err = load(path_, doc, exists, encoding); err != 0) return err;
  if (!exists) return kNotFound;
  return machwid_of(doc, digits, found);
}

}  // namespace skav::settings
