// The importer's limits, in one place: what a source may ask of the outputs
// and of the files it names. docs/import.md and docs/robustness.md list them.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest number of frames -fps may ask for per joint; beyond it the
// output would not fit a file that boneanim can read in memory.
constexpr double kMaxResampledFrames = 10'000'000;

// The largest number of frames (one frame: one joint at one key time) of one
// clip file, and of all the clip files of one import together; about 100
// bytes of text each, so at most about 2 GB per clip and 10 GB per import.
constexpr std::uint64_t kMaxClipFrames = 20'000'000;
constexpr std::uint64_t kMaxImportFrames = 100'000'000;

// The longest clip name in bytes, so that "<name>_<n>.job.kvt" and its
// temporary file's name stay within the 255 bytes of common file systems.
// A longer name is cut and given a hash of the whole name (stable from run to run).
constexpr std::size_t kMaxClipNameBytes = 200;

// The largest glTF file, and the largest external file one of its buffers
// names, in bytes; all of them together at most kMaxGltfTotalBytes.
constexpr std::uint64_t kMaxGltfFileBytes = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxGltfTotalBytes = std::uint64_t(2) << 30;

// The largest Collada file whose text is scanned for the artists' node
// names and the unit, in bytes.
constexpr std::size_t kMaxColladaBytes = std::size_t(1) << 30;

// A node's path in messages names at most this many of its nearest ancestors.
constexpr int kMaxNodePathParts = 32;

// The child process that runs the glTF loader or the asset library on a
// file: its address space in MiB and processor time in seconds by default
// (-max-memory and -max-seconds change them), and its stack.
constexpr std::uint64_t kReaderMemoryMiB = 4096;
constexpr unsigned kReaderCpuSeconds = 120;
constexpr std::uint64_t kReaderStackBytes = std::uint64_t(64) << 20;
