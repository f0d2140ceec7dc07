// The player's disk side: the chunk pipeline (pair exchange + ParseChunk +
// IndexFrames) against a plain 2 MiB copy measured in the same run; FindTime
// probes on a 2 TB disk; detection on a 1 TB sparse image; the playback
// engine's CPU share at 1X and 64X on a recording of four cameras, and the
// time from a search on a 2 TB image to the first frame shown.

#include <benchmark/benchmark.h>
#include <time.h>

#include <QGuiApplication>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/ChunkLoader.h"
#include "player/playback/PlaybackEngine.h"
#include "shared/stream/RecTimeCalendar.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/common/PacketStreamBuilder.h"
#include "tools/dvrsim/CameraBank.h"
#include "tools/dvrsim/MakeDisk.h"

namespace {

using namespace rd;

// A chunk as the disk holds it (pairs exchanged): frames of 2-30 KB with start
// codes, four channels in turn, an audio packet every 30 video packets.
std::vector<uint8_t> DiskChunk() {
  std::mt19937 rng(7);
  PacketStreamBuilder builder;
  std::vector<uint8_t> samples(kAudioPayloadSize, 0xD5);
  std::size_t next_audio = 30 * kVideoPayloadSize;
  for (int k = 0; builder.packets().size() < kChunkPackets; ++k) {
    std::vector<uint8_t> frame(2000 + rng() % 28000);
    for (auto& b : frame) b = static_cast<uint8_t>(rng() | 0x02);  // no stray start codes
    std::memcpy(frame.data(), kFrameStartCode.data(), 4);
    frame[4] = static_cast<uint8_t>(0x80 | (k % 4));
    builder.AppendVideo(frame);
    if (builder.video_bytes() >= next_audio) {
      builder.AppendAudio(samples.data());
      next_audio += 30 * kVideoPayloadSize;
    }
  }
  std::vector<uint8_t> chunk;
  for (std::size_t i = 0; i < kChunkPackets; ++i) {
    chunk.insert(chunk.end(), builder.packets()[i].begin(), builder.packets()[i].end());
  }
  PairSwap(chunk.data(), chunk.size());
  return chunk;
}

void BM_Copy2MiB(benchmark::State& state) {
  const auto source = DiskChunk();
  std::vector<uint8_t> chunk(kChunkBytes);
  for (auto _ : state) {
    std::memcpy(chunk.data(), source.data(), kChunkBytes);
    benchmark::DoNotOptimize(chunk.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkBytes);
}
BENCHMARK(BM_Copy2MiB);

// What the load thread does after the read: copy in (stands for the read into
// the chunk buffer), pair exchange, parse, index.
void BM_ChunkPipeline(benchmark::State& state) {
  const auto source = DiskChunk();
  std::vector<uint8_t> chunk(kChunkBytes);
  ChunkLoader loader;
  uint32_t frames = 0;
  for (auto _ : state) {
    std::memcpy(chunk.data(), source.data(), kChunkBytes);
    PairSwap(chunk.data(), kChunkBytes);
    loader.ParseChunk(chunk.data(), kChunkBytes, 0);
    loader.IndexFrames(0);
    frames = loader.buffer(0).frame_count;
    benchmark::DoNotOptimize(frames);
  }
  state.counters["frames"] = frames;
  state.counters["audio_packets"] = loader.buffer(0).audio_packet_count;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkBytes);
}
BENCHMARK(BM_ChunkPipeline);

void BM_PairSwap(benchmark::State& state) {
  auto chunk = DiskChunk();
  for (auto _ : state) {
    PairSwap(chunk.data(), kChunkBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunkBytes);
}
BENCHMARK(BM_PairSwap);

// A 2 TB disk that exists only as arithmetic: packet p of the ring was
// recorded at base + age(p) / 8 seconds (eight packets a second), the index
// sectors say W and wrapped. Reads outside the disk fail.
class VirtualDisk : public SectorDevice {
 public:
  VirtualDisk(uint64_t bytes, uint64_t w, bool wrapped) : bytes_(bytes), w_(w), wrapped_(wrapped) {
    marker_ = bytes / kSectorSize - 1;
    ap_ = *AreaSectors(marker_, DiskLayout::kStandard) / kSectorsPerPacket;
  }
  uint64_t marker() const { return marker_; }
  uint64_t ap() const { return ap_; }
  RecTime TimeOf(uint64_t p) const {
    const uint64_t age = wrapped_ ? (p >= w_ ? p - w_ : p + ap_ - w_) : p;
    return RecTimeFromSeconds(kBaseSeconds + static_cast<int64_t>(age / 8));
  }
  std::optional<uint64_t> SizeBytes() override { return bytes_; }
  std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
    if (offset > bytes_ || size > bytes_ - offset) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, size);
    for (std::size_t at = 0; at < size; at += kSectorSize) {
      const uint64_t sector = (offset + at) / kSectorSize;
      uint8_t* s = out + at;
      if (sector < ap_ * kSectorsPerPacket && sector % kSectorsPerPacket == 0) {
        uint8_t header[8]{};
        TimeOf(sector / kSectorsPerPacket).ToHeader(header);
        header[6] = 1;
        header[7] = 0x0F;
        PairSwap(header, 8);
        std::memcpy(s, header, 8);
      } else if (sector == FirstEventSector(marker_)) {
        s[kDataFlagOffset] = 1;
      } else if (sector == StatusSectorOf(marker_)) {
        EncodeDiskStatus({static_cast<uint32_t>(w_), wrapped_}, s);
      } else if (sector == marker_) {
        std::memcpy(s, kDiskMarkerText, kDiskMarkerLength);
        PairSwap(s, kSectorSize);
      }
    }
    return size;
  }

 private:
  static constexpr int64_t kBaseSeconds = 1'104'537'600;  // 2005-01-01
  uint64_t bytes_, w_;
  bool wrapped_;
  uint64_t marker_ = 0, ap_ = 0;
};

// FindTime on a 2 TB disk, wrapped (arg 1) or not; targets drawn from the
// recording. Counters: probes per search (mean, max) and the share found.
void BM_FindTime2TB(benchmark::State& state) {
  const bool wrapped = state.range(0) != 0;
  const uint64_t bytes = 2'000'000'000'000ULL;
  auto model = std::make_shared<VirtualDisk>(bytes, 0, wrapped);
  const uint64_t w = wrapped ? model->ap() / 3 : model->ap() - 1000;
  model = std::make_shared<VirtualDisk>(bytes, w, wrapped);
  DvrDisk disk(
      [model](const std::string&, std::string*) { return std::make_unique<VirtualDisk>(*model); });
  disk.set_device_path("virtual");
  RecordingIndex index(disk, model->marker(), model->ap() * kSectorsPerPacket);
  RecordingSpan span;
  if (index.ReadSpan(&span) != SpanResult::kOk) {
    state.SkipWithError("no span");
    return;
  }
  std::mt19937_64 rng(11);
  int64_t searches = 0, probes = 0, found = 0, max_probes = 0;
  for (auto _ : state) {
    const RecTime target = model->TimeOf(rng() % model->ap());
    uint64_t position = 0;
    found += index.FindTime(target, span, &position);
    probes += index.last_probe_count();
    max_probes = std::max<int64_t>(max_probes, index.last_probe_count());
    ++searches;
  }
  state.counters["probes_mean"] = static_cast<double>(probes) / static_cast<double>(searches);
  state.counters["probes_max"] = static_cast<double>(max_probes);
  state.counters["found_share"] = static_cast<double>(found) / static_cast<double>(searches);
}
BENCHMARK(BM_FindTime2TB)->Arg(0)->Arg(1);

// Detection on a 1 TB sparse image file (marker in its last sector).
void BM_Detect1TBSparseImage(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() / "rd_bench_1tb.img";
  {
    DvrDiskImage image;
    if (!image.Create(path, 1'000'000'000'000ULL / kSectorSize, DiskLayout::kStandard) ||
        !image.Finish()) {
      state.SkipWithError("cannot create the sparse image");
      return;
    }
  }
  DvrDisk disk;
  bool ok = true;
  for (auto _ : state) ok = ok && disk.DetectDvrDisk(path.string());
  std::filesystem::remove(path);
  if (!ok) state.SkipWithError("marker not found");
  state.counters["sector_reads"] = static_cast<double>(disk.detect_reads());
}
BENCHMARK(BM_Detect1TBSparseImage)->Unit(benchmark::kMillisecond);

// ---- The playback engine ----------------------------------------------------

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void EnsureGuiApplication() {
  static std::unique_ptr<QGuiApplication> app;
  if (QGuiApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "bench_player_disk";
  static char* argv[] = {name, nullptr};
  app = std::make_unique<QGuiApplication>(argc, argv);
}

class SilentAudio : public PlaybackAudioSink {
 public:
  void PlayAudio(const uint8_t*, std::size_t) override {}
};

// Ten minutes of four cameras at 30 frames/s with sound, as the emulated DVR
// records them (a full frame every 16th frame of a camera).
const std::filesystem::path& RecordingImage() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() / "rd_bench_playback.img";
    sim::MakeDiskOptions o;
    o.out = p.string();
    o.size = 256ull * 1024 * 1024;
    o.duration_s = 600;
    o.start = 1'714'564'800;  // 2024-05-01 12:00:00
    o.quiet = true;
    std::string error;
    if (!sim::MakeDisk(o, nullptr, nullptr, &error)) p.clear();
    return p;
  }();
  return path;
}

PlaybackDisk DiskOf(const std::string& path) {
  PlaybackDisk d;
  DvrDisk disk;
  if (!disk.DetectDvrDisk(path)) return d;
  disk.set_device_path(path);
  const auto area = AreaSectors(disk.marker_sector(), DiskLayout::kStandard);
  RecordingIndex index(disk, disk.marker_sector(), *area);
  if (index.ReadSpan(&d.span) != SpanResult::kOk) return d;
  d.device_path = path;
  d.area_bytes = *area * kSectorSize;
  return d;
}

// Plays for `seconds` of real time at a speed, the owner's ticks at 33 and
// 500 ms as the window's timers give them. Counters: the process's CPU share
// of one core, the speed reached (recorded frames walked per second against
// 30 frames/s), frames shown per second.
void BM_EnginePlay(benchmark::State& state) {
  const int speed = static_cast<int>(state.range(0));
  const auto& image = RecordingImage();
  if (image.empty()) {
    state.SkipWithError("make-disk failed");
    return;
  }
  EnsureGuiApplication();
  const PlaybackDisk disk = DiskOf(image.string());
  const double seconds = 4.0;
  double cpu = 0, wall = 0, walked = 0, shown = 0;
  for (auto _ : state) {
    SilentAudio audio;
    PlaybackEngine::Options o;
    o.audio = &audio;
    PlaybackEngine engine(o);
    if (engine.Start() != PlaybackEngine::SetUp::kOk) {
      state.SkipWithError("engine set-up failed");
      return;
    }
    engine.OpenDisk(disk);
    while (engine.speed_caption() != ">> " + std::to_string(speed) + "X") engine.CycleSpeed();
    engine.PlayFrom(uint64_t{disk.span.status.next_packet} / 10 * kPacketSize);  // a minute in
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ProcessCpuSeconds();
    auto next_repaint = t0, next_audio = t0 + std::chrono::milliseconds(500);
    const auto end = t0 + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (std::chrono::steady_clock::now() < end && !engine.stats().ended) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= next_repaint) {
        engine.RepaintTick();
        next_repaint += std::chrono::milliseconds(33);
      }
      if (now >= next_audio) {
        engine.AudioTick();
        next_audio += std::chrono::milliseconds(500);
      }
      std::this_thread::sleep_until(std::min(next_repaint, next_audio));
    }
    cpu += ProcessCpuSeconds() - c0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    walked += static_cast<double>(engine.stats().frames_walked);
    shown += static_cast<double>(engine.stats().frames_shown);
  }
  state.counters["cpu_percent"] = 100.0 * cpu / wall;
  state.counters["speed"] = walked / 30.0 / wall;
  state.counters["shown_per_s"] = shown / wall;
}
BENCHMARK(BM_EnginePlay)->Arg(1)->Arg(64)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A 2 TB image file, sparse: what a search on a nearly full 2 TB ring reads
// (the probe sectors of the bisection, taken from the VirtualDisk's
// arithmetic), and from the found packet on a few seconds of four cameras.
struct BigImage {
  std::filesystem::path path;
  RecTime target;
};

const BigImage& TwoTerabyteImage() {
  static const BigImage image = []() -> BigImage {
    const uint64_t bytes = 2'000'000'000'000ULL;
    auto model = std::make_shared<VirtualDisk>(bytes, 0, false);
    const uint64_t w = model->ap() - 1000;
    model = std::make_shared<VirtualDisk>(bytes, w, false);
    const RecTime target = model->TimeOf(model->ap() / 3 + 12'345);
    // The sectors the search reads, from the model.
    auto probes = std::make_shared<std::set<uint64_t>>();
    DvrDisk disk([model, probes](const std::string&, std::string*) {
      struct Logging : VirtualDisk {
        Logging(const VirtualDisk& m, std::shared_ptr<std::set<uint64_t>> s)
            : VirtualDisk(m), seen(std::move(s)) {}
        std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
          seen->insert(offset / kSectorSize);
          return VirtualDisk::ReadAt(offset, buffer, size);
        }
        std::shared_ptr<std::set<uint64_t>> seen;
      };
      return std::make_unique<Logging>(*model, probes);
    });
    disk.set_device_path("model");
    RecordingIndex index(disk, model->marker(), model->ap() * kSectorsPerPacket);
    RecordingSpan span;
    uint64_t found = 0;
    if (index.ReadSpan(&span) != SpanResult::kOk || !index.FindTime(target, span, &found))
      return {};

    const auto path = std::filesystem::temp_directory_path() / "rd_bench_2tb.img";
    DvrDiskImage img;
    if (!img.Create(path, bytes / kSectorSize, DiskLayout::kStandard)) return {};
    uint8_t packet[kPacketSize];
    for (const uint64_t sector : *probes) {
      if (sector % kSectorsPerPacket != 0 || sector / kSectorsPerPacket >= model->ap()) continue;
      const uint64_t p = sector / kSectorsPerPacket;
      DvrDiskImage::MakeVideoPacket(model->TimeOf(p), 1, 0x0F, nullptr, 0, packet);
      img.WritePacket(p, packet);
    }
    // Four cameras from the found packet on, each starting with a full frame.
    sim::CameraBank cameras(mjpeg::VideoStandard::kNtsc);
    PacketStreamBuilder builder;
    const uint64_t first = found / kPacketSize;
    for (int k = 0; k < 240; ++k) {
      const RecTime t = model->TimeOf(first + builder.packets().size());
      builder.set_time(t);
      const auto frame = cameras.Encode(k % 4, static_cast<uint64_t>(k / 4), t, 5, k / 4 % 16 == 0);
      builder.AppendVideo(frame.data(), frame.size());
    }
    builder.Flush();
    for (std::size_t i = 0; i < builder.packets().size(); ++i)
      img.WritePacket(first + i, builder.packets()[i].data());
    if (!img.WriteStatus({static_cast<uint32_t>(w), false}) || !img.Finish()) return {};
    return {path, target};
  }();
  return image;
}

// From the search to the first frame drawn: the bisection over the 2 TB ring
// (each probe one open and one sector read), the engine's restart at the
// found packet, the first chunk's read, parse and index, and the first decode.
void BM_SearchToFirstFrame2TB(benchmark::State& state) {
  const BigImage& image = TwoTerabyteImage();
  if (image.path.empty()) {
    state.SkipWithError("cannot write the 2 TB sparse image");
    return;
  }
  EnsureGuiApplication();
  const PlaybackDisk disk = DiskOf(image.path.string());
  PlaybackEngine engine(PlaybackEngine::Options{});
  if (engine.Start() != PlaybackEngine::SetUp::kOk || disk.device_path.empty()) {
    state.SkipWithError("set-up failed");
    return;
  }
  engine.OpenDisk(disk);
  DvrDisk dvr;
  dvr.set_device_path(disk.device_path);
  RecordingIndex index(dvr, dvr.DetectDvrDisk(disk.device_path) ? dvr.marker_sector() : 0,
                       disk.area_bytes / kSectorSize);
  int probes = 0;
  for (auto _ : state) {
    engine.Stop();
    const uint64_t before = engine.stats().frames_shown;
    const auto t0 = std::chrono::steady_clock::now();
    uint64_t position = 0;
    if (!index.FindTime(image.target, disk.span, &position)) {
      state.SkipWithError("not found");
      return;
    }
    probes = index.last_probe_count();
    engine.PlayFrom(position);
    // The first frame drawn counts (polled: the engine reports a drawn frame
    // to its window only when its time text changes).
    while (engine.stats().frames_shown == before) {
      if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(5)) {
        state.SkipWithError("no frame shown");
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["probes"] = probes;
  std::filesystem::remove(image.path);
}
BENCHMARK(BM_SearchToFirstFrame2TB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
