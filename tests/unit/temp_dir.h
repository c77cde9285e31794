// A fresh folder for one test, removed with everything in it afterwards.
#pragma once
#include <filesystem>
#include <random>
#include <string>

struct TempDir {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
      ("stubtest-" + std::to_string(std::random_device{}()) + std::to_string(std::random_device{}()));
  TempDir() { std::filesystem::create_directories(path); }
  ~TempDir() { std::error_code ec; std::filesystem::remove_all(path, ec); }
  TempDir(const TempDir&) = delete;
};
