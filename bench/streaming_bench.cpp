// Streaming an image to the simulated stick's flash programmer over a pseudo-terminal, as the
// update does: one StreamWrite per 1 KiB block. Prints blocks per second and MB/s next to the
// floor that the stream write's polling allows (two sleeps of at least 2 ms per block).
//   orbek_bench_streaming [MiB]     (default 4; ORBEK_TIME_SCALE is honoured)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "download/streaming.h"
#include "platform/clock.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "sim/sha256.h"

using namespace orbek;

int main(int argc, char** argv) {
  const double mebibytes = argc > 1 ? std::atof(argv[1]) : 4.0;
  const size_t size = static_cast<size_t>(mebibytes * 1024 * 1024);
  if (size == 0) {
    std::fprintf(stderr, "usage: orbek_bench_streaming [MiB]\n");
    return 2;
  }
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);

  sim::StickConfig config = sim::DefaultStickConfig();
  config.initialMode = sim::StickMode::StreamingDownload;
  sim::Stick stick(config);
  sim::PtyTransport ptys(stick, root);
  ptys.Start();
  stick.Start();
  const int com = stick.Ports().at(0).com;

  std::vector<uint8_t> image(size);
  std::mt19937 random(7);
  for (auto& byte : image)
    byte = static_cast<uint8_t>(random());

  int status = 0;
  {
    PhoneLink link;
    if (!link.port.Open(com) || !StreamHello(link) ||
        !StreamOpenMultiImage(link, kImageEfs, nullptr, 0)) {
      std::fprintf(stderr, "cannot reach the flash programmer: %s\n", link.reason.c_str());
      return 1;
    }
    const size_t blocks = (size + kStreamBlockSize - 1) / kStreamBlockSize;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t address = 0; address < size; address += kStreamBlockSize) {
      uint32_t length = std::min<uint32_t>(kStreamBlockSize, static_cast<uint32_t>(size - address));
      if (!StreamWrite(link, image.data() + address, address, length)) {
        std::fprintf(stderr, "block at %u failed: %s\n", address, link.reason.c_str());
        return 1;
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!StreamClose(link)) {
      std::fprintf(stderr, "close failed: %s\n", link.reason.c_str());
      return 1;
    }
    std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
    const bool intact =
        stick.State().flash.count("efs") != 0 && stick.State().flash.at("efs") == image;
    const double scale = platform::TimeScale();
    const double floorBlocksPerSecond = 1000.0 / 4.0 * scale;
    std::printf("streamed %.1f MiB in %zu blocks over a pty in %.2f s (clock scale %g)\n",
                mebibytes, blocks, seconds, scale);
    std::printf("  %.0f blocks/s, %.3f MB/s\n", blocks / seconds, size / seconds / 1e6);
    std::printf("  floor of the polling (2 x 2 ms per block): %.0f blocks/s, %.3f MB/s\n",
                floorBlocksPerSecond, floorBlocksPerSecond * kStreamBlockSize / 1e6);
    std::printf("  image %s in the simulator\n",
                intact ? "arrived intact" : "DID NOT ARRIVE INTACT");
    status = intact ? 0 : 1;
  }
  ptys.Stop();
  std::filesystem::remove_all(root);
  return status;
}
