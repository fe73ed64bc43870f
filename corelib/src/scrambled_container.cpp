#include "qv/scrambled_container.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qv::container {

namespace {

// ---------------------------------------------------------------- reading: minizip over memory

struct MemoryFile {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
};

voidpf ZCALLBACK mem_open(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK mem_read(voidpf, voidpf stream, void* buf, uLong size) {
  auto* f = static_cast<MemoryFile*>(stream);
  std::size_t n = std::min<std::size_t>(size, f->size - f->pos);
  if (n == 0) return 0;
  std::memcpy(buf, f->data + f->pos, n);
  f->pos += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK mem_write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK mem_tell(voidpf, voidpf stream) {
  return static_cast<MemoryFile*>(stream)->pos;
}

long ZCALLBACK mem_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* f = static_cast<MemoryFile*>(stream);
  ZPOS64_T base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = f->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = f->size; break;
    default: return -1;
  }
  if (offset > f->size || base + offset > f->size) return -1;
  f->pos = static_cast<std::size_t>(base + offset);
  return 0;
}

int ZCALLBACK mem_close(voidpf, voidpf) { return 0; }
int ZCALLBACK mem_error(voidpf, voidpf) { return 0; }

struct UnzCloser {
  void operator()(void* z) const { unzClose(static_cast<unzFile>(z)); }
};

bool equals_ignoring_ascii_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

std::string read_entry(const std::uint8_t* zip, std::size_t size) {
  MemoryFile file{zip, size};
  zlib_filefunc64_def io{};
  io.zopen64_file = &mem_open;
  io.zread_file = &mem_read;
  io.zwrite_file = &mem_write;
  io.ztell64_file = &mem_tell;
  io.zseek64_file = &mem_seek;
  io.zclose_file = &mem_close;
  io.zerror_file = &mem_error;
  io.opaque = &file;
  std::unique_ptr<void, UnzCloser> uz(unzOpen2_64("my.dt container", &io));
  if (!uz) return {};
  unzFile z = static_cast<unzFile>(uz.get());

  unz_file_info64 info{};
  bool found = false;
  for (int r = unzGoToFirstFile(z); r == UNZ_OK; r = unzGoToNextFile(z)) {
    char name[256];
    if (unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
      return {};
    if (info.size_filename < sizeof name && equals_ignoring_ascii_case(name, "my.dt")) {
      found = true;
      break;
    }
  }
  // The declared size decides the allocation, so it is checked first.
  if (!found || info.uncompressed_size > kMaxScrambledDocumentSize) return {};
  if (unzOpenCurrentFile(z) != UNZ_OK) return {};
  std::string out(static_cast<std::size_t>(info.uncompressed_size), '\0');
  std::size_t got = 0;
  bool ok = true;
  while (got < out.size()) {
    unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(out.size() - got, 1u << 20));
    int n = unzReadCurrentFile(z, &out[got], chunk);
    if (n <= 0) {
      ok = false;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  // The closing call checks the CRC once the whole declared size was read.
  int close = unzCloseCurrentFile(z);
  if (!ok || close != UNZ_OK) return {};
  return out;
}

// ---------------------------------------------------------------- writing

void put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

bool deflate_raw(const std::string& in, std::vector<std::uint8_t>& out) {
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&zs, static_cast<uLong>(in.size())));
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return r == Z_STREAM_END;
}

}  // namespace

std::string ReadScrambledDocument(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 4) return {};
  std::vector<std::uint8_t> zip(data + 4, data + size);
  for (std::size_t i = 0; i < zip.size(); ++i) zip[i] ^= data[(i + 4) % 4];
  return read_entry(zip.data(), zip.size());
}

std::vector<std::uint8_t> WriteScrambledDocument(const std::string& document,
                                                 const std::array<std::uint8_t, 4>& key) {
  if (document.size() > kMaxScrambledDocumentSize) return {};
  std::vector<std::uint8_t> packed;
  if (!deflate_raw(document, packed)) return {};
  const std::uint32_t crc = static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(document.data()), static_cast<uInt>(document.size())));
  static const char kName[] = "my.dt";
  const unsigned name_len = sizeof kName - 1;
  // 1980-01-01 00:00, the earliest DOS time stamp: the output depends only on the input.
  const unsigned dos_time = 0, dos_date = (0u << 9) | (1u << 5) | 1u;

  std::vector<std::uint8_t> out(key.begin(), key.end());
  const std::uint32_t local_offset = 0;
  put32(out, 0x04034b50);
  put16(out, 20);  // version needed: deflate
  put16(out, 0);  // flags
  put16(out, 8);  // deflate
  put16(out, dos_time);
  put16(out, dos_date);
  put32(out, crc);
  put32(out, static_cast<std::uint32_t>(packed.size()));
  put32(out, static_cast<std::uint32_t>(document.size()));
  put16(out, name_len);
  put16(out, 0);
  out.insert(out.end(), kName, kName + name_len);
  out.insert(out.end(), packed.begin(), packed.end());

  const std::uint32_t central_offset = static_cast<std::uint32_t>(out.size() - 4);
  put32(out, 0x02014b50);
  put16(out, 20);  // made by: MS-DOS, 2.0
  put16(out, 20);
  put16(out, 0);
  put16(out, 8);
  put16(out, dos_time);
  put16(out, dos_date);
  put32(out, crc);
  put32(out, static_cast<std::uint32_t>(packed.size()));
  put32(out, static_cast<std::uint32_t>(document.size()));
  put16(out, name_len);
  put16(out, 0);  // extra
  put16(out, 0);  // comment
  put16(out, 0);  // disk
  put16(out, 0);  // internal attributes
  put32(out, 0);  // external attributes
  put32(out, local_offset);
  out.insert(out.end(), kName, kName + name_len);
  const std::uint32_t central_size = static_cast<std::uint32_t>(out.size() - 4) - central_offset;

  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, 1);
  put16(out, 1);
  put32(out, central_size);
  put32(out, central_offset);
  put16(out, 0);

  for (std::size_t i = 4; i < out.size(); ++i) out[i] ^= key[i % 4];
  return out;
}

}  // namespace qv::container
