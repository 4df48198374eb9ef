// The zip benchmark: our zip component against unzip and zip on the same archives.
//   zip_bench [--members N] [--adds M] [--folder DIR]
// Measures, with wall-clock times of the same run:
//   - listing an archive of N members (made by zip) against `unzip -l`;
//   - reading every member of it against `unzip -p` (output discarded);
//   - extracting every member into a folder against `unzip -q -d`;
//   - adding M files one at a time (each a committed archive), and all M in one commit
//     (AddFiles), each against one `zip` call for all of them; the first shows commit
//     costs that grow with the archive.
#include "locations/LocationOwner.h"
#include "locations/QNZipMaster.h"

#include "common/SafeFile.h"
#include "common/SysUtils.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) {
    return std::chrono::duration<double>(TClock::now() - since).count();
}

double Shell(const std::string& command) {
    auto t = TClock::now();
    int rc = std::system(command.c_str());
    if (rc != 0) std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    return Seconds(t);
}

void MakeFiles(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        std::string data = "member " + IntToStr(i) + "\n";
        for (int k = 0; k < 40; ++k) data += "line " + IntToStr(k * i) + " of some text\n";
        WriteFileAtomic(folder + "/f" + IntToStr(i) + ".txt", data);
    }
}

void Row(const char* what, double ours, double peer) {
    std::printf("%-34s ours %8.3f s   peer %8.3f s   ratio %6.2f\n", what, ours, peer,
                peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    int members = 10000, adds = 1000;
    std::string base;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--members") members = std::atoi(argv[i + 1]);
        else if (a == "--adds") adds = std::atoi(argv[i + 1]);
        else if (a == "--folder") base = argv[i + 1];
    }
    if (base.empty()) {
        char tmpl[] = "/tmp/qnzipbench-XXXXXX";
        if (!::mkdtemp(tmpl)) return 1;
        base = tmpl;
    }
    TSimpleLocationOwner owner(base);
    const std::string src = base + "/src";
    MakeFiles(src, members);
    Shell("cd '" + src + "' && zip -q -r ../big.zip .");
    const std::string big = base + "/big.zip";

    // Listing.
    auto t = TClock::now();
    TQNZipMaster zip(&owner);
    zip.SetZipFileName(big);
    const int listed = zip.Names().Count();
    const double oursList = Seconds(t);
    const double peerList = Shell("unzip -l '" + big + "' >/dev/null");
    std::printf("%d members listed\n", listed);
    Row("list the archive", oursList, peerList);

    // Reading every member.
    t = TClock::now();
    int64_t bytes = 0;
    std::vector<char> buf(65536);
    for (int i = 0; i < listed; ++i) {
        std::unique_ptr<TStream> s = zip.OpenMember(big, zip.Names()[i]);
        if (!s) continue;
        for (size_t n; (n = s->Read(buf.data(), buf.size())) > 0;) bytes += int64_t(n);
    }
    const double oursRead = Seconds(t);
    const double peerRead = Shell("unzip -p '" + big + "' >/dev/null");
    std::printf("%lld bytes read\n", static_cast<long long>(bytes));
    Row("read every member", oursRead, peerRead);

    // Extracting every member into a folder.
    t = TClock::now();
    const int extracted = zip.ExtractAll(big, false, base + "/ours-out").Count();
    const double oursExtract = Seconds(t);
    const double peerExtract = Shell("unzip -q -d '" + base + "/peer-out' '" + big + "'");
    std::printf("%d members extracted\n", extracted);
    Row("extract every member", oursExtract, peerExtract);

    // Adding files one at a time and in one commit, each against one zip call.
    const std::string addSrc = base + "/add";
    const std::string batchSrc = base + "/batch";
    MakeFiles(addSrc, adds);
    Shell("cp -r '" + addSrc + "' '" + base + "/addpeer' && cp -r '" + addSrc + "' '" + batchSrc + "'");
    const double peerAdd = Shell("cd '" + base + "/addpeer' && zip -q ../peer.zip *.txt");
    t = TClock::now();
    std::string loc;
    int added = 0;
    for (int i = 0; i < adds; ++i)
        added += zip.AddFile(base + "/add.zip", addSrc + "/f" + IntToStr(i) + ".txt", loc, false);
    const double oursAdd = Seconds(t);
    std::printf("%d files added one at a time\n", added);
    Row("add files one at a time", oursAdd, peerAdd);
    TQNStringList files;
    for (int i = 0; i < adds; ++i) files.Add(batchSrc + "/f" + IntToStr(i) + ".txt");
    t = TClock::now();
    const int batch = zip.AddFiles(base + "/batch.zip", files, false).Count();
    const double oursBatch = Seconds(t);
    std::printf("%d files added in one commit\n", batch);
    Row("add files in one commit", oursBatch, peerAdd);
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
    return 0;
}
