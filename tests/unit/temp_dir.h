// A fresh folder for one test, removed with everything in it afterwards.
#pragma once
#include <filesystem>
#include <random>
#include <string>

class TempDir {
 public:
  TempDir() { std::filesystem::create_directories(path_); }
  ~TempDir() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  const std::filesystem::path path_ = std::filesystem::temp_directory_path() /
      ("stubtest-" + std::to_string(std::random_device{}()) + std::to_string(std::random_device{}()));
};
