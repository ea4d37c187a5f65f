#include "package/ZipFileAccess.h"

#include "platform/Files.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace DataStorage {

namespace {

// No exception leaves these callbacks.

// minizip reads headers a few bytes at a time; the stream keeps windows of the file so that
// walking a large archive does not cost a system call per field. Extraction alternates between
// the central directory and the entries' data: one window follows each, so neither is read again
// for every entry.
struct Stream {
  struct Window {
    std::vector<char> data;
    std::uint64_t start = 0;  // file offset of data[0]
    std::size_t length = 0;
    std::uint64_t lastUse = 0;
  };
  platform::FileHandle handle;
  platform::DWORD error = platform::ERROR_SUCCESS;
  Window windows[2];
  std::uint64_t uses = 0;
  std::uint64_t position = 0;  // the position minizip sees
  std::uint64_t handlePosition = 0;
  // Writes are gathered (minizip writes each header field on its own) and written in one go
  // before anything else touches the file.
  std::string pending;
  std::uint64_t pendingStart = 0;

  static constexpr std::size_t kWindow = 64 * 1024;

  bool SeekHandle(std::uint64_t to) {
    if (handlePosition == to) return true;
    platform::DWORD rc = handle.Seek(static_cast<std::int64_t>(to), platform::FILE_BEGIN);
    if (rc != platform::ERROR_SUCCESS) {
      error = rc;
      return false;
    }
    handlePosition = to;
    return true;
  }
  // Reads at the handle's position until `size` bytes or the end.
  std::size_t ReadRaw(char* p, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
      std::size_t done = 0;
      platform::DWORD rc = handle.Read(p + total, size - total, done);
      if (rc != platform::ERROR_SUCCESS) {
        error = rc;
        break;
      }
      if (done == 0) break;
      total += done;
    }
    handlePosition += total;
    return total;
  }
  bool Flush() {
    if (pending.empty()) return error == platform::ERROR_SUCCESS;
    bool ok = SeekHandle(pendingStart);
    if (ok) {
      platform::DWORD rc = handle.Write(pending.data(), pending.size());
      if (rc != platform::ERROR_SUCCESS) {
        error = rc;
        ok = false;
      } else {
        handlePosition += pending.size();
      }
    }
    pending.clear();
    return ok;
  }
  std::size_t Read(char* p, std::size_t size) {
    if (!Flush()) return 0;
    std::size_t total = 0;
    while (total < size) {
      Window* hit = nullptr;
      for (Window& w : windows)
        if (position >= w.start && position < w.start + w.length) hit = &w;
      if (hit) {
        hit->lastUse = ++uses;
        std::size_t offset = static_cast<std::size_t>(position - hit->start);
        std::size_t n = std::min(size - total, hit->length - offset);
        std::copy(hit->data.data() + offset, hit->data.data() + offset + n, p + total);
        total += n;
        position += n;
        continue;
      }
      if (!SeekHandle(position)) break;
      if (size - total >= kWindow) {
        std::size_t n = ReadRaw(p + total, size - total);
        total += n;
        position += n;
        break;
      }
      Window& w = windows[0].lastUse <= windows[1].lastUse ? windows[0] : windows[1];
      w.data.resize(kWindow);
      w.start = position;
      w.length = ReadRaw(w.data.data(), kWindow);
      w.lastUse = ++uses;
      if (w.length == 0) break;
    }
    return total;
  }
  bool Write(const void* p, std::size_t size) {
    for (Window& w : windows) w.length = 0;
    if (!pending.empty() && position != pendingStart + pending.size() && !Flush()) return false;
    if (pending.empty()) pendingStart = position;
    pending.append(static_cast<const char*>(p), size);
    position += size;
    if (pending.size() >= kWindow) return Flush();
    return error == platform::ERROR_SUCCESS;
  }
};

voidpf ZCALLBACK OpenStream(voidpf, const void* filename, int mode) noexcept {
  try {
    const auto* path = static_cast<const wchar_t*>(filename);
    auto stream = std::make_unique<Stream>();
    platform::DWORD rc;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
      rc = stream->handle.Open(path, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                               platform::OPEN_EXISTING);
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
      rc = stream->handle.Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                               platform::OPEN_EXISTING);
    else
      rc = stream->handle.Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                               platform::CREATE_ALWAYS);
    if (rc != platform::ERROR_SUCCESS) return nullptr;
    return stream.release();
  } catch (...) {
    return nullptr;
  }
}

uLong ZCALLBACK ReadStream(voidpf, voidpf opaque, void* buf, uLong size) noexcept {
  try {
    return static_cast<uLong>(static_cast<Stream*>(opaque)->Read(static_cast<char*>(buf), size));
  } catch (...) {
    return 0;
  }
}

uLong ZCALLBACK WriteStream(voidpf, voidpf opaque, const void* buf, uLong size) noexcept {
  try {
    return static_cast<Stream*>(opaque)->Write(buf, size) ? size : 0;
  } catch (...) {
    return 0;
  }
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf opaque) noexcept {
  return static_cast<Stream*>(opaque)->position;
}

long ZCALLBACK SeekStream(voidpf, voidpf opaque, ZPOS64_T offset, int origin) noexcept {
  try {
    auto* s = static_cast<Stream*>(opaque);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
      base = s->position;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
      if (!s->Flush() || s->handle.GetSize(base) != platform::ERROR_SUCCESS) return -1;
    }
    s->position = base + offset;
    return 0;
  } catch (...) {
    return -1;
  }
}

int ZCALLBACK CloseStream(voidpf, voidpf opaque) noexcept {
  try {
    auto* s = static_cast<Stream*>(opaque);
    const bool flushed = s->Flush();
    int rc = s->handle.Close() == platform::ERROR_SUCCESS && flushed ? 0 : -1;
    delete s;
    return rc;
  } catch (...) {
    return -1;
  }
}

int ZCALLBACK ErrorStream(voidpf, voidpf opaque) noexcept {
  auto* s = static_cast<Stream*>(opaque);
  return s && s->error != platform::ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

zlib_filefunc64_def MachineFileFunctions() {
  zlib_filefunc64_def f{};
  f.zopen64_file = OpenStream;
  f.zread_file = ReadStream;
  f.zwrite_file = WriteStream;
  f.ztell64_file = TellStream;
  f.zseek64_file = SeekStream;
  f.zclose_file = CloseStream;
  f.zerror_file = ErrorStream;
  f.opaque = nullptr;
  return f;
}

}  // namespace DataStorage
