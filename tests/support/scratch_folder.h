#pragma once

// A new empty folder under the system's temporary folder, removed again at
// the end of the test; plain C++ so that it works on every system the core
// is built for.

#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix) {
        namespace fs = std::filesystem;
        std::mt19937_64 random(static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / (prefix + "." + std::to_string(random() % 1000000000));
            if (fs::create_directory(candidate)) {
                path_ = candidate.string();
                return;
            }
        }
        throw std::runtime_error("cannot create a scratch folder");
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};
