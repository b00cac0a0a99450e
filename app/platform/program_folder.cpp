#include "app/platform/program_folder.h"

std::filesystem::path qvProgramFolder() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path qvFindBesideProgram(const std::vector<std::string>& places, const std::string& name) {
  std::filesystem::path folder = qvProgramFolder();
  if (folder.empty()) return {};
  for (const std::string& place : places) {
    std::filesystem::path candidate = (folder / place / name).lexically_normal();
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  return {};
}
