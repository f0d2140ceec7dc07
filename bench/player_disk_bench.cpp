// The player's disk side: the chunk pipeline (pair exchange + ParseChunk +
// IndexFrames) against a plain 2 MiB copy measured in the same run; FindTime
// probes on a 2 TB disk; detection on a 1 TB sparse image.

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/ChunkLoader.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/common/PacketStreamBuilder.h"

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
    return FromSeconds(kBaseSeconds + static_cast<int64_t>(age / 8));
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
  static RecTime FromSeconds(int64_t s) {
    // Civil date from days since 1970 (proleptic Gregorian).
    int64_t z = s / 86400 + 719468;
    const int64_t secs = s % 86400;
    const int64_t era = z / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    return RecTime{static_cast<uint8_t>(y - 2000),
                   static_cast<uint8_t>(m),
                   static_cast<uint8_t>(d),
                   static_cast<uint8_t>(secs / 3600),
                   static_cast<uint8_t>(secs / 60 % 60),
                   static_cast<uint8_t>(secs % 60)};
  }
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

}  // namespace

BENCHMARK_MAIN();
