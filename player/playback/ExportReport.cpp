#include "player/playback/ExportReport.h"

#include <openssl/evp.h>

#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace rd {
namespace {

struct ShaFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using ShaContext = std::unique_ptr<EVP_MD_CTX, ShaFree>;

ShaContext NewSha256() {
  ShaContext ctx(EVP_MD_CTX_new());
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) ctx.reset();
  return ctx;
}

bool Finish(EVP_MD_CTX* ctx, Sha256Digest* digest) {
  unsigned int length = 0;
  return EVP_DigestFinal_ex(ctx, digest->data(), &length) == 1 && length == digest->size();
}

std::string Now() {
  const time_t t = ::time(nullptr);
  struct tm local {};
  localtime_r(&t, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

std::string PacketLine(uint64_t position) {
  return std::to_string(position / kPacketSize) + " (byte " + std::to_string(position) + ")";
}

}  // namespace

Sha256Digest Sha256(const void* data, std::size_t size) {
  Sha256Digest digest{};
  ShaContext ctx = NewSha256();
  if (!ctx) return digest;
  if (EVP_DigestUpdate(ctx.get(), data, size) != 1 || !Finish(ctx.get(), &digest)) digest = {};
  return digest;
}

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  ShaContext ctx = NewSha256();
  if (!ctx) {
    std::fclose(f);
    return std::nullopt;
  }
  std::vector<uint8_t> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
    if (n > 0 && EVP_DigestUpdate(ctx.get(), buffer.data(), n) != 1) ok = false;
    if (n < buffer.size()) {
      ok = ok && std::ferror(f) == 0;
      break;
    }
  }
  std::fclose(f);
  if (!ok) return std::nullopt;
  Sha256Digest digest{};
  if (!Finish(ctx.get(), &digest)) return std::nullopt;
  return digest;
}

std::string HexDigest(const Sha256Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(64);
  for (const uint8_t b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string ReportPathFor(const std::string& exported_file) {
  return exported_file + ".report.txt";
}

std::string FolderReportPath(const std::string& folder) {
  std::filesystem::path p(folder);
  if (!p.has_filename()) p = p.parent_path();  // "frames/"
  return p.string() + ".report.txt";
}

std::string FormatExportReport(const ExportReport& r, const std::string& base_dir) {
  std::ostringstream out;
  out << "rdvr export report\n";
  out << "kind: " << r.kind << "\n";
  out << "program: " << r.program << "\n";
  out << "written: " << Now() << "\n";
  out << "source: " << r.source << " (opened read-only)\n";
  out << "layout: " << (r.network_layout ? "network" : "standard") << "\n";
  out << "marker sector: " << r.marker_sector << "\n";
  out << "area sectors: " << r.area_sectors << "\n";
  if (!r.channels.empty()) out << "channels: " << r.channels << "\n";
  if (r.first_packet) out << "first packet: " << PacketLine(*r.first_packet) << "\n";
  if (r.last_packet) out << "last packet: " << PacketLine(*r.last_packet) << "\n";
  if (r.first_time) out << "first frame: " << r.first_time->Format() << "\n";
  if (r.last_time) out << "last frame: " << r.last_time->Format() << "\n";
  out << "frames: " << r.frames << "\n";
  if (r.audio_packets > 0) out << "audio packets: " << r.audio_packets << "\n";
  if (!r.note.empty()) out << "note: " << r.note << "\n";
  for (const std::string& file : r.files) {
    std::error_code ec;
    const auto relative = std::filesystem::proximate(file, base_dir.empty() ? "." : base_dir, ec);
    const std::string name =
        ec ? std::filesystem::path(file).filename().string() : relative.generic_string();
    const auto size = std::filesystem::file_size(file, ec);
    out << "file: " << name;
    if (!ec) out << " (" << size << " bytes)";
    out << "\n";
    const auto digest = Sha256OfFile(file);
    out << "sha256: " << (digest ? HexDigest(*digest) : std::string("unreadable")) << "  " << name
        << "\n";
  }
  return out.str();
}

bool WriteExportReport(const ExportReport& report, const std::string& path, std::string* error) {
  const std::string text =
      FormatExportReport(report, std::filesystem::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  out.close();
  if (!out) {
    if (error) *error = "cannot write the report " + path;
    return false;
  }
  return true;
}

}  // namespace rd
