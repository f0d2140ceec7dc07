#include "tools/mjpegtool/MjpegTool.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "rd/Version.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/cli/CommandLine.h"
#include "tools/common/ImageFile.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/Picture.h"
#include "tools/common/TestPicture.h"

namespace rd {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFile = 1;
constexpr int kExitUsage = 2;
constexpr int kDefaultQ = 3;

struct Options {
  std::string command;
  bool pal = false;
  bool palette = false;  // --256
  bool half = false;
  std::optional<std::string> out_dir;
  int q = kDefaultQ;
  int channel_code = 0;
  int card = 0;  // 0: natural picture
  long frame = 0;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

mjpeg::VideoStandard Standard(const Options& o) {
  return o.pal ? mjpeg::VideoStandard::kPal : mjpeg::VideoStandard::kNtsc;
}

bool ParseInt(const std::string& text, long lo, long hi, long* value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  long v = 0;
  try {
    v = std::stol(text, &used, 10);
  } catch (...) {
    return false;
  }
  if (used != text.size() || v < lo || v > hi) return false;
  *value = v;
  return true;
}

// Parses options and positional arguments; returns an error text or "".
std::string Parse(const std::vector<std::string>& args, Options* o) {
  if (args.empty()) return "no command given";
  if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
    o->help = true;
    return "";
  }
  if (args[0] == "--version") {
    o->version = true;
    return "";
  }
  o->command = args[0];
  const bool encode = o->command == "encode", testpicture = o->command == "testpicture";
  if (o->command != "decode" && !encode && o->command != "show" && !testpicture) {
    return "unknown command '" + o->command + "'";
  }
  // Each command takes its own options; the others are unknown to it.
  CLI::App app;
  cli::Configure(app, MjpegToolUsage());
  std::optional<std::string> out, q, channel, card, frame;
  app.add_flag("--pal", o->pal);
  if (!encode && !testpicture) {
    app.add_flag("--256", o->palette);
    app.add_flag("--half", o->half);
  }
  if (o->command == "decode") cli::AddValue(app, "--out", out, "a folder");
  if (encode) {
    cli::AddValue(app, "--q", q, "a number 0..15");
    cli::AddValue(app, "--channel", channel, "1..4 or quad");
  }
  if (testpicture) {
    cli::AddValue(app, "--card", card, "a channel 1..4");
    cli::AddValue(app, "--frame", frame, "a number >= 0");
  }
  app.add_option("files", o->files);
  const cli::Parsed p = cli::Parse(app, std::vector<std::string>(args.begin() + 1, args.end()));
  if (p.kind == cli::Parsed::kHelp) o->help = true;
  if (p.kind == cli::Parsed::kHelp || p.kind == cli::Parsed::kVersion) return "";
  if (p.kind == cli::Parsed::kError)
    return p.text + (p.text.rfind("unknown option", 0) == 0 ? " for " + o->command : "");
  long n = 0;
  if (out) {
    if (out->empty()) return "--out needs a folder";
    o->out_dir = out;
  }
  if (q) {
    if (!ParseInt(*q, 0, 15, &n)) return "--q needs a number 0..15";
    o->q = static_cast<int>(n);
  }
  if (channel) {
    if (*channel == "quad") {
      o->channel_code = static_cast<int>(ChannelCode::kQuad);
    } else if (ParseInt(*channel, 1, 4, &n)) {
      o->channel_code = static_cast<int>(n - 1);
    } else {
      return "--channel needs 1..4 or quad, not '" + *channel + "'";
    }
  }
  if (card) {
    if (!ParseInt(*card, 1, 4, &n)) return "--card needs a channel 1..4";
    o->card = static_cast<int>(n);
  }
  if (frame) {
    if (!ParseInt(*frame, 0, 1000000000, &n)) return "--frame needs a number >= 0";
    o->frame = n;
  }
  if (o->help) return "";
  if (o->command == "decode") {
    if (!o->out_dir) return "decode needs --out DIR";
    if (o->files.empty()) return "decode needs at least one frame file";
  } else if (o->command == "encode") {
    if (o->files.size() != 2) return "encode needs an input picture and an output file";
  } else if (o->command == "show") {
    if (o->files.size() < 2) return "show needs at least one frame file and an output BMP";
  } else if (o->files.size() != 1) {
    return "testpicture needs one output file";
  }
  return "";
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = path + ": is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

bool WriteBytes(const std::filesystem::path& path, const uint8_t* data, std::size_t size,
                std::string* error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) {
    *error = path.string() + ": cannot create: " + std::strerror(errno);
    return false;
  }
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  f.close();
  if (!f) {
    *error = path.string() + ": write failed";
    return false;
  }
  return true;
}

// The decoder with its output buffer, zero-filled once and reused.
struct DecodeSession {
  mjpeg::MjpegDecoder decoder;
  std::vector<uint8_t> output;
  int height = 0;

  explicit DecodeSession(const Options& o) {
    decoder.Open(Standard(o));
    decoder.SetTrueColour(!o.palette);
    height = PictureHeight(Standard(o));
    // Room for the largest output: 2H rows of 640 true-colour pixels.
    output.assign(static_cast<std::size_t>(mjpeg::kOutputPitchPixels) * 3 * 2 * height, 0);
  }
  int Bpp(const Options& o) const { return o.palette ? 1 : 3; }
  // Bytes of the rows the decoder writes.
  std::size_t OutRows(const Options& o) const {
    return static_cast<std::size_t>(o.half ? height - 6 : 2 * height - 11) *
           mjpeg::kOutputPitchPixels * Bpp(o);
  }
  uint8_t Decode(const std::vector<uint8_t>& frame, bool half) {
    static const uint8_t kEmpty = 0;
    const uint8_t* data = frame.empty() ? &kEmpty : frame.data();
    return decoder.DecodeFrame(data, frame.size(), output.data(), half);
  }
};

int Decode(const Options& o, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  std::filesystem::path dir(*o.out_dir);
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir, ec)) {
    err << "mjpegtool: " << dir.string() << ": cannot create the output folder\n";
    return kExitFile;
  }
  DecodeSession s(o);
  if (!s.decoder.IsOpen()) {
    err << "mjpegtool: the decoder could not be opened\n";
    return kExitFile;
  }
  const std::size_t luma = static_cast<std::size_t>(s.decoder.width()) * s.decoder.height();
  const std::size_t chroma = luma / 4;
  for (std::size_t i = 0; i < o.files.size(); ++i) {
    std::vector<uint8_t> frame;
    std::string error;
    if (!ReadBytes(o.files[i], &frame, &error)) {
      err << "mjpegtool: " << error << "\n";
      return kExitFile;
    }
    uint8_t status = s.Decode(frame, o.half);
    const std::string n = std::to_string(i);
    if (!WriteBytes(dir / (n + ".out"), s.output.data(), s.OutRows(o), &error) ||
        !WriteBytes(dir / (n + ".y"), s.decoder.y_plane(), luma, &error) ||
        !WriteBytes(dir / (n + ".cb"), s.decoder.cb_plane(), chroma, &error) ||
        !WriteBytes(dir / (n + ".cr"), s.decoder.cr_plane(), chroma, &error)) {
      err << "mjpegtool: " << error << "\n";
      return kExitFile;
    }
    out << "frame " << i << " status " << static_cast<int>(status) << "\n";
  }
  return kExitOk;
}

int Encode(const Options& o, std::ostream& out, std::ostream& err) {
  RgbImage image;
  std::string error;
  if (!ReadImageFile(o.files[0], &image, &error)) {
    err << "mjpegtool: " << error << "\n";
    return kExitFile;
  }
  MjpegEncoder encoder(Standard(o));
  if (image.width != encoder.width() || image.height != encoder.height()) {
    out << "scaling " << image.width << "x" << image.height << " to " << encoder.width() << "x"
        << encoder.height() << "\n";
    image = ResampleRgb(image, encoder.width(), encoder.height());
  }
  auto frame = encoder.EncodeFull(image, o.q, o.channel_code);
  if (frame.empty() || !WriteBytes(o.files[1], frame.data(), frame.size(), &error)) {
    err << "mjpegtool: " << (frame.empty() ? "encoding failed" : error) << "\n";
    return kExitFile;
  }
  out << "wrote " << o.files[1] << ": " << frame.size() << " bytes, " << encoder.width() << "x"
      << encoder.height() << ", Q " << o.q << ", channel code " << o.channel_code << "\n";
  return kExitOk;
}

int Show(const Options& o, std::ostream& out, std::ostream& err) {
  DecodeSession s(o);
  if (!s.decoder.IsOpen()) {
    err << "mjpegtool: the decoder could not be opened\n";
    return kExitFile;
  }
  const std::string& target = o.files.back();
  uint8_t status = 0;
  for (std::size_t i = 0; i + 1 < o.files.size(); ++i) {
    std::vector<uint8_t> frame;
    std::string error;
    if (!ReadBytes(o.files[i], &frame, &error)) {
      err << "mjpegtool: " << error << "\n";
      return kExitFile;
    }
    status = s.Decode(frame, o.half);
  }
  if (status != mjpeg::kStatusTrueColour && status != mjpeg::kStatusPalette) {
    err << "mjpegtool: " << o.files[o.files.size() - 2] << ": not a frame (decoder status "
        << static_cast<int>(status) << ")\n";
    return kExitFile;
  }
  // The displayed bitmap: full size 2H - 12 rows of 640 pixels, half size
  // H - 6 rows of 320; the output rows are bottom-up.
  const int width = o.half ? 320 : 640;
  const int rows = o.half ? s.height - 6 : 2 * s.height - 12;
  const int bpp = status == mjpeg::kStatusPalette ? 1 : 3;
  const std::size_t pitch = static_cast<std::size_t>(mjpeg::kOutputPitchPixels) * bpp;
  RgbImage image(width, rows);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* src = s.output.data() + pitch * static_cast<std::size_t>(rows - 1 - y);
    uint8_t* dst = image.Pixel(0, y);
    for (int x = 0; x < width; ++x) {
      if (bpp == 3) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      } else {
        mjpeg::MjpegDecoder::PaletteColour(src[x], &dst[3 * x], &dst[3 * x + 1], &dst[3 * x + 2]);
      }
    }
  }
  std::string error;
  if (!WriteImageFile(target, image, &error)) {
    err << "mjpegtool: " << error << "\n";
    return kExitFile;
  }
  out << "wrote " << target << ": " << width << "x" << rows << ", "
      << (bpp == 3 ? "true colour" : "256 colours") << "\n";
  return kExitOk;
}

int TestPictureCommand(const Options& o, std::ostream& out, std::ostream& err) {
  const mjpeg::VideoStandard standard = Standard(o);
  RgbImage image;
  if (o.card == 0) {
    image = MakeNaturalPicture(kPictureWidth, PictureHeight(standard));
  } else {
    TestCard card(o.card, standard);
    YuvPicture picture(standard);
    // The card's clock runs from 2026/01/01 12:00:00 at 30 frames/s.
    long seconds = 12 * 3600 + o.frame / 30;
    RecTime time{26,
                 1,
                 1,
                 static_cast<uint8_t>((seconds / 3600) % 24),
                 static_cast<uint8_t>((seconds / 60) % 60),
                 static_cast<uint8_t>(seconds % 60)};
    card.Render(static_cast<uint64_t>(o.frame), time, &picture);
    image = ConvertYuvToRgb(picture);
  }
  std::string error;
  if (!WriteImageFile(o.files[0], image, &error)) {
    err << "mjpegtool: " << error << "\n";
    return kExitFile;
  }
  out << "wrote " << o.files[0] << ": " << image.width << "x" << image.height << "\n";
  return kExitOk;
}

}  // namespace

std::string MjpegToolUsage() {
  return R"(Usage: mjpegtool COMMAND [OPTIONS] ARGUMENTS

Commands:
  decode [--pal] [--256] [--half] --out DIR FRAME_FILE...
      Decodes the frame files in the given order with one decoder (a frame
      that codes only some macroblocks keeps the rest from the frames
      before). For frame i (counted from 0) writes DIR/<i>.out (the output
      rows the decoder writes), DIR/<i>.y, DIR/<i>.cb and DIR/<i>.cr (the
      planes after the frame, top row first) and prints
      "frame <i> status <s>". A frame the decoder rejects is reported by
      its status; the exit code is still 0.
  encode [--pal] [--q N] [--channel C] IN.bmp|IN.ppm OUT.bin
      Encodes a 24-bit BMP or binary PPM (P6) picture as one full frame.
      A picture of another size than 640x224 (PAL: 640x272) is scaled.
        --q N        quantisation level 0..15 (default 3; lower is finer)
        --channel C  channel 1..4 or quad (default 1)
  show [--pal] [--256] [--half] FRAME_FILE... OUT.bmp
      Decodes the frames in order and writes the last one as it is
      displayed (640x436, PAL 640x532; half size 320x218, PAL 320x266) as a
      24-bit BMP (a PPM when OUT ends in .ppm).
  testpicture [--pal] [--card C] [--frame N] OUT.bmp|OUT.ppm
      Writes a generated picture: a natural-looking scene, or with --card
      the test card of camera channel C (1..4) at frame N (default 0).

Options:
  --pal    PAL geometry (640x272) instead of NTSC (640x224)
  --256    256-colour output (dithered palette) instead of true colour
  --half   half-size output
  -h, --help  this text
  --version   the program's version

Exit codes: 0 done, 1 a file could not be read or written, 2 bad arguments.
)";
}

int RunMjpegTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string problem = Parse(args, &o);
  if (!problem.empty()) {
    err << "mjpegtool: " << problem << "\n(run 'mjpegtool --help' for usage)\n";
    return kExitUsage;
  }
  if (o.help) {
    out << MjpegToolUsage();
    return kExitOk;
  }
  if (o.version) {
    out << "mjpegtool " << kVersion << "\n";
    return kExitOk;
  }
  if (o.command == "decode") return Decode(o, out, err);
  if (o.command == "encode") return Encode(o, out, err);
  if (o.command == "show") return Show(o, out, err);
  return TestPictureCommand(o, out, err);
}

}  // namespace rd
