// Installation as CUPS needs it: `cmake --install` into a staging root puts a
// root-owned mode 0755 lblfilter into the CUPS server directory, the PPDs
// where the driver listing (lpinfo -m) finds them, lblview and the manual
// pages; `cpack -G DEB` packages the same files with their dependencies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cups/cups_harness.h"
#include "tests/cups/private_cupsd.h"
#include "tests/support/run_process.h"

namespace {

namespace fs = std::filesystem;

constexpr char kServerBin[] = "/usr/lib/cups";  // where Debian's CUPS runs filters from

struct installed_file {
  const char* path;  // below the staging root
  mode_t mode;
};

const installed_file kFiles[] = {
    {"/usr/lib/cups/filter/lblfilter", 0755},
    {"/usr/bin/lblview", 0755},
    {"/usr/share/ppd/lblfilter/lbl203.ppd", 0644},
    {"/usr/share/ppd/lblfilter/lbl300.ppd", 0644},
    {"/usr/share/man/man8/lblfilter.8", 0644},
    {"/usr/share/man/man1/lblview.1", 0644},
    {"/usr/share/doc/lblfilter/examples/product-label.pdf", 0644},
    {"/usr/share/doc/lblfilter/examples/shipping-label.pdf", 0644},
};

run_process::result run(std::vector<std::string> argv, std::vector<std::string> env = {}) {
  run_process::request req;
  req.program = argv[0];
  req.argv = std::move(argv);
  req.env = std::move(env);
  return run_process::run(req);
}

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    LBL_REQUIRE(::geteuid() == 0, "root, for root-owned files and a private cupsd");
    LBL_REQUIRE(cups_harness::read_file(std::string(LBL_BUILD_DIR) + "/CPackConfig.cmake") != "",
                "the packaging configuration of this build");
    ASSERT_TRUE(dir_.ok());
  }
  cups_harness::temp_dir dir_;
};

TEST_F(Installation, StagedInstallIsWhatCupsNeeds) {
  LBL_REQUIRE(cups_harness::is_executable("/usr/bin/cupstestppd"), "cupstestppd (cups-client)");
  LBL_REQUIRE(cups_harness::is_executable("/usr/sbin/lpinfo"), "lpinfo (cups-client)");
  LBL_REQUIRE(cups_harness::read_file(std::string(LBL_BUILD_DIR) + "/CMakeCache.txt")
                      .find("LBL_CUPS_SERVERBIN:PATH=" + std::string(kServerBin) + "\n") !=
                  std::string::npos,
              std::string("a build whose CUPS server directory is ") + kServerBin);
  const std::string root = dir_.path() + "/root";
  const run_process::result installed =
      run({CMAKE_COMMAND, "--install", LBL_BUILD_DIR, "--prefix", "/usr"}, {"DESTDIR=" + root});
  ASSERT_EQ(installed.exit_status, 0) << installed.out << installed.err;

  for (const installed_file& f : kFiles) {
    SCOPED_TRACE(f.path);
    struct stat st {};
    ASSERT_EQ(::stat((root + f.path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, f.mode);
    EXPECT_EQ(st.st_uid, 0u);
  }

  // cupstestppd finds the filter the PPDs name in the staged server directory.
  for (const char* ppd : {"lbl203.ppd", "lbl300.ppd"}) {
    const std::string path = root + "/usr/share/ppd/lblfilter/" + ppd;
    const run_process::result checked = run({"/usr/bin/cupstestppd", "-R", root, path});
    EXPECT_EQ(checked.exit_status, 0) << checked.out;
    EXPECT_NE(checked.out.find(path + ": PASS"), std::string::npos) << checked.out;
  }

  // The driver listing of a scheduler whose data directory holds the staged
  // PPDs as its models shows both printers.
  const std::string data = dir_.path() + "/data";
  fs::create_directories(data + "/model");
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/cups")) {
    if (entry.path().filename() != "model") {
      fs::create_symlink(entry.path(), data + "/" + entry.path().filename().string());
    }
  }
  fs::create_directory_symlink(root + "/usr/share/ppd/lblfilter", data + "/model/lblfilter");
  cups_harness::private_cupsd cupsd;
  std::string error;
  ASSERT_TRUE(cupsd.start(&error, data)) << error;
  const run_process::result models = cupsd.client("/usr/sbin/lpinfo", {"lpinfo", "-m"});
  ASSERT_EQ(models.exit_status, 0) << models.err;
  EXPECT_NE(models.out.find("lblfilter/lbl203.ppd Generic Label Printer 203dpi, lblfilter "),
            std::string::npos)
      << models.out;
  EXPECT_NE(models.out.find("lblfilter/lbl300.ppd Generic Label Printer 300dpi, lblfilter "),
            std::string::npos)
      << models.out;
  // ... and a queue can be made from the listed model.
  const run_process::result added = cupsd.client(
      "/usr/sbin/lpadmin",
      {"lpadmin", "-p", "label", "-E", "-v", "file:///dev/null", "-m", "lblfilter/lbl203.ppd"});
  EXPECT_EQ(added.exit_status, 0) << added.err << cupsd.error_log();
}

TEST_F(Installation, DebianPackageCarriesTheDriverAndItsDependencies) {
  LBL_REQUIRE(cups_harness::is_executable("/usr/bin/dpkg-deb"), "dpkg-deb");
  LBL_REQUIRE(cups_harness::is_executable("/usr/bin/dpkg-shlibdeps"), "dpkg-shlibdeps (dpkg-dev)");
  const run_process::result packed =
      run({CMAKE_CPACK_COMMAND, "-G", "DEB", "--config",
           std::string(LBL_BUILD_DIR) + "/CPackConfig.cmake", "-B", dir_.path()});
  ASSERT_EQ(packed.exit_status, 0) << packed.out << packed.err;
  std::string deb;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  }
  ASSERT_FALSE(deb.empty()) << packed.out;

  const std::string depends = run({"/usr/bin/dpkg-deb", "-f", deb, "Depends"}).out;
  for (const char* package :
       {"cups ", "cups-filters", "ghostscript", "libcups2 ", "libcupsimage2"}) {
    EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
  }
  const std::string contents = run({"/usr/bin/dpkg-deb", "-c", deb}).out;
  for (const installed_file& f : kFiles) {
    const std::string mode = f.mode == 0755 ? "-rwxr-xr-x root/root" : "-rw-r--r-- root/root";
    // "-rwxr-xr-x root/root  35576 2024-01-01 12:00 ./usr/lib/cups/filter/lblfilter"
    const size_t at = contents.find(std::string(".") + f.path + "\n");
    const size_t line = at == std::string::npos ? at : contents.rfind('\n', at);
    const size_t start = line == std::string::npos ? 0 : line + 1;
    const bool found = at != std::string::npos && contents.compare(start, mode.size(), mode) == 0;
    EXPECT_TRUE(found) << mode << " ." << f.path << " in\n" << contents;
  }
}

}  // namespace
