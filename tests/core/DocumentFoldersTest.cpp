#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/EventLog.h"
#include "removable/DocumentFolders.h"
#include "removable/MountTable.h"
#include "support/FileBytes.h"
#include "support/MountedVolume.h"
#include "support/TempDir.h"

namespace {

std::string Description(const std::string& printedElement, const std::string& copies = "2",
                        const std::string& filename = "doc.pdf") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<document>\r\n<title>T</title>\r\n"
           "<description>Fattura &amp; bolla</description>\r\n<application>Pad</application>\r\n"
           "<filename>" +
           filename + "</filename>\r\n<datetime>20240229123456</datetime>\r\n<copies>" + copies +
           "</copies>\r\n" + printedElement + "</document>\r\n";
}

void WriteDocument(const std::filesystem::path& folder, const std::string& description,
                   const std::string& fileName = "doc.pdf") {
    std::filesystem::create_directories(folder);
    if (!description.empty()) {
        WriteFileBytes(folder / "printinfo.xml", description);
    }
    WriteFileBytes(folder / fileName, "%PDF-1.4\n");
}

std::map<std::string, RemovableDocument> ByFolderName(const std::vector<RemovableDocument>& list) {
    std::map<std::string, RemovableDocument> byName;
    for (const RemovableDocument& record : list) {
        byName[record.folderPath.filename().string()] = record;
    }
    return byName;
}

class PenDriveFolders : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "mounting volumes needs root";
        }
        EventLog::Global().SetFileName(dir / "qopra.log");
        sources.sysfsRoot = dir / "sys";
        sources.mediaRoots.clear();
        std::filesystem::create_directories(sources.sysfsRoot);
    }
    void TearDown() override { EventLog::Global().SetFileName({}); }

    MountedVolume& Mount(MountedVolume::Kind kind, const std::string& name, bool removable = true) {
        volumes.push_back(std::make_unique<MountedVolume>(kind, dir / "mnt" / name));
        MountedVolume& volume = *volumes.back();
        EXPECT_TRUE(volume.Mounted()) << volume.Error();
        if (removable) {
            volume.RegisterRemovable(sources.sysfsRoot);
        }
        return volume;
    }
    std::string Log() const { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    VolumeSources sources;
    // Declared after the folder, so volumes are unmounted before it is removed.
    std::vector<std::unique_ptr<MountedVolume>> volumes;
};

} // namespace

TEST(MountTableParsing, FieldsEscapesPartitionsAndStackedMounts) {
    const std::string table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "garbage line\n"
        "40 22 8:17 / /media/user/MY\\040STICK rw master:3 shared:9 - vfat /dev/sdb1 rw\n"
        "41 22 0:50 / /mnt/a rw - tmpfs first rw\n"
        "42 22 0:51 / /mnt/a rw - tmpfs second rw\n"
        "43 22 259:3 / /run/media rw - ext4 /dev/nvme0n1p3 rw\n"
        "44 22 x:1 / /mnt/bad rw - tmpfs bad rw\n"
        "45 22 8:33 / /data rw - ext4 /dev/sdc1 rw\n";
    const std::vector<MountEntry> entries = MountTable::Parse(table);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].mountPoint, "/media/user/MY STICK");
    EXPECT_EQ(entries[1].id, "40");
    EXPECT_EQ(entries[1].fileSystemType, "vfat");
    EXPECT_EQ(entries[1].source, "/dev/sdb1");
    EXPECT_EQ(entries[1].major, 8u);
    EXPECT_EQ(entries[1].minor, 17u);

    // /data is a partition of a disk flagged removable; 0:51 is flagged itself; /run/media itself is
    // no volume below the media root.
    TempDir sys;
    std::filesystem::create_directories(sys / "devices/sdc/sdc1");
    WriteFileBytes(sys / "devices/sdc/removable", "1\n");
    WriteFileBytes(sys / "devices/sdc/sdc1/partition", "1\n");
    std::filesystem::create_directories(sys / "dev/block/0:51");
    WriteFileBytes(sys / "dev/block/0:51/removable", "1\n");
    std::filesystem::create_directories(sys / "dev/block/0:50");
    WriteFileBytes(sys / "dev/block/0:50/removable", "0\n");
    std::filesystem::create_directory_symlink("../../devices/sdc/sdc1", sys / "dev/block/8:33");
    VolumeSources sources;
    sources.sysfsRoot = sys.Path();
    std::vector<std::string> mountPoints;
    for (const MountEntry& volume : MountTable::RemovableVolumes(entries, sources)) {
        mountPoints.push_back(volume.mountPoint.string());
    }
    // In mount-point order; of the two mounts on /mnt/a the later one counts.
    EXPECT_EQ(mountPoints, (std::vector<std::string>{"/data", "/media/user/MY STICK", "/mnt/a"}));
    sources.mediaRoots.clear();
    EXPECT_FALSE(MountTable::IsRemovable(entries[1], sources));
}

TEST(DocumentDates, OnlyValidFourteenDigitTimesAreShown) {
    EXPECT_EQ(DocumentFolders::FormatDocumentDate("20240131235958"), " 31.01.2024 23:59:58");
    EXPECT_EQ(DocumentFolders::FormatDocumentDate("20240229000000xyz"), " 29.02.2024 00:00:00");
    for (const char* bad : {"", "2024013123595", "2024013123595x", "2024-1-31 23:5", "20241301000000",
                            "20240001000000", "20240132000000", "20230229000000", "20240131240000",
                            "20240131236000", "20240131235960", " 2024013123595"}) {
        EXPECT_EQ(DocumentFolders::FormatDocumentDate(bad), "") << bad;
    }
}

TEST_F(PenDriveFolders, RemovableDrivesInMountPointOrderAndTheDrivePresentFlag) {
    Mount(MountedVolume::Kind::Tmpfs, "b-stick");
    MountedVolume& fat = Mount(MountedVolume::Kind::Fat, "a-fat");
    MountedVolume& fixed = Mount(MountedVolume::Kind::Tmpfs, "c-fixed", false);
    const DocumentFolders folders(sources);
    EXPECT_EQ(folders.ListRemovableDrives(),
              (std::vector<std::filesystem::path>{dir / "mnt/a-fat", dir / "mnt/b-stick"}));
    EXPECT_TRUE(DocumentFolders::removableDrivePresent);

    EXPECT_FALSE(DocumentFolders::HasDocumentFolder(fat.MountPoint()));
    std::filesystem::create_directory(fat.MountPoint() / "Ferrulo");
    EXPECT_TRUE(DocumentFolders::HasDocumentFolder(fat.MountPoint()));
    // Any entry of that name counts, in any letter case.
    WriteFileBytes(dir / "mnt/b-stick/FERRULO", "not a folder");
    EXPECT_TRUE(DocumentFolders::HasDocumentFolder(dir / "mnt/b-stick"));
    EXPECT_FALSE(DocumentFolders::HasDocumentFolder(fixed.MountPoint()));

    // Volumes mounted below a media root count without a sysfs flag.
    sources.mediaRoots = {dir / "mnt"};
    EXPECT_EQ(DocumentFolders(sources).ListRemovableDrives().size(), 3u);

    for (auto& volume : volumes) {
        ASSERT_TRUE(volume->Unmount());
    }
    EXPECT_TRUE(folders.ListRemovableDrives().empty());
    EXPECT_FALSE(DocumentFolders::removableDrivePresent);
}

TEST_F(PenDriveFolders, ScanReadsEveryDocumentFolderAndItsDescription) {
    MountedVolume& fat = Mount(MountedVolume::Kind::Fat, "a-fat");
    Mount(MountedVolume::Kind::Tmpfs, "b-none");
    MountedVolume& empty = Mount(MountedVolume::Kind::Tmpfs, "c-empty");
    MountedVolume& cased = Mount(MountedVolume::Kind::Tmpfs, "d-cased");
    const std::filesystem::path root = fat.MountPoint() / "Ferrulo";
    WriteDocument(root / "doc1", Description("<printed>0</printed>\r\n", "3"));
    WriteDocument(root / "doc2", "");
    WriteDocument(root / "doc3", Description(""));
    WriteDocument(root / "doc4", Description("<printed>1</printed>\r\n"));
    WriteDocument(root / "doc5", Description("<printed>yes</printed>\r\n", "x"));
    WriteDocument(root / "doc6", Description("<printed/>\r\n", " 12abc"));
    WriteFileBytes(root / "notes.txt", "a file, not a document folder");
    std::filesystem::create_directory(empty.MountPoint() / "Ferrulo");
    std::filesystem::create_directories(cased.MountPoint() / "FERRULO" / "Doc");
    WriteFileBytes(cased.MountPoint() / "FERRULO/Doc/PrintInfo.XML",
                   Description("<printed>0</printed>", "1", "Doc.PDF"));
    WriteFileBytes(cased.MountPoint() / "FERRULO/Doc/doc.pdf", "%PDF");
    // Entity names keep their letter case: the small u with umlaut names the file on the drive.
    WriteDocument(cased.MountPoint() / "FERRULO/Menu",
                  Description("<printed>0</printed>", "1", "&uuml;ber.pdf"), "\u00FCber.pdf");

    std::vector<RemovableDocument> list{RemovableDocument{}};
    std::vector<RemovableDocument> second{RemovableDocument{}, RemovableDocument{}};
    DocumentFolders(sources).ScanDocumentFolders(list, second);
    ASSERT_EQ(list.size(), 8u);
    ASSERT_EQ(second.size(), 8u);
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].documentPath, second[i].documentPath);
    }
    // Drives in order: the FAT volume's six rows before the two of d-cased.
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].folderPath.parent_path(), i < 6 ? root : cased.MountPoint() / "FERRULO") << i;
    }

    std::map<std::string, RemovableDocument> rows = ByFolderName(list);
    const RemovableDocument& full = rows["doc1"];
    EXPECT_EQ(full.title, "T");
    EXPECT_EQ(full.description, "Fattura & bolla");
    EXPECT_EQ(full.application, "Pad");
    EXPECT_EQ(full.filename, "doc.pdf");
    EXPECT_EQ(full.datetime, "20240229123456");
    EXPECT_EQ(full.copies, 3);
    EXPECT_FALSE(full.printed);
    EXPECT_EQ(full.documentPath, root / "doc1/doc.pdf");
    EXPECT_EQ(full.descriptionPath, root / "doc1/printinfo.xml");
    EXPECT_EQ(full.folderPath, root / "doc1");

    // No description file: a row with empty texts that still knows its folder.
    EXPECT_EQ(rows["doc2"].description, "");
    EXPECT_EQ(rows["doc2"].copies, 1);
    EXPECT_FALSE(rows["doc2"].printed);
    EXPECT_TRUE(rows["doc2"].documentPath.empty());
    EXPECT_EQ(rows["doc2"].folderPath, root / "doc2");

    // No printed element: not printed, and the file gains printed = 0 after copies.
    EXPECT_FALSE(rows["doc3"].printed);
    EXPECT_EQ(ReadFileBytes(root / "doc3/printinfo.xml"), Description("<printed>0</printed>\r\n"));
    // Only "0" is not printed.
    EXPECT_TRUE(rows["doc4"].printed);
    EXPECT_TRUE(rows["doc5"].printed);
    EXPECT_TRUE(rows["doc6"].printed);
    EXPECT_EQ(rows["doc5"].copies, 0);
    EXPECT_EQ(rows["doc6"].copies, 12);
    // Names on the drive in another letter case are found and kept by their real names.
    EXPECT_EQ(rows["Doc"].documentPath, cased.MountPoint() / "FERRULO/Doc/doc.pdf");
    EXPECT_EQ(rows["Doc"].descriptionPath, cased.MountPoint() / "FERRULO/Doc/PrintInfo.XML");
    EXPECT_EQ(rows["Menu"].filename, "\u00FCber.pdf");
    EXPECT_EQ(rows["Menu"].documentPath, cased.MountPoint() / "FERRULO/Menu/\u00FCber.pdf");

    const std::string log = Log();
    EXPECT_NE(log.find("[WARNING] Can't find path " + (dir / "mnt/b-none/Ferrulo").string() + "\n"),
              std::string::npos);
    EXPECT_EQ(log.find("c-empty"), std::string::npos);
    EXPECT_NE(log.find("[ERROR] Can't find " + (root / "doc2/printinfo.xml").string() + "\n"),
              std::string::npos);
}

TEST_F(PenDriveFolders, MarkingPrintedFindsTheRecordWithoutCaseAndReportsEveryFailure) {
    MountedVolume& drive = Mount(MountedVolume::Kind::Tmpfs, "stick");
    const std::filesystem::path root = drive.MountPoint() / "Ferrulo";
    const std::string original = Description("<printed>0</printed>\r\n");
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteDocument(root / name, original);
    }
    std::vector<RemovableDocument> list;
    std::vector<RemovableDocument> second;
    DocumentFolders(sources).ScanDocumentFolders(list, second);
    ASSERT_EQ(list.size(), 4u);

    const std::filesystem::path upper = drive.MountPoint().string() + "/FERRULO/A/DOC.PDF";
    EXPECT_TRUE(DocumentFolders::MarkDocumentPrinted(upper, list));
    std::string marked = original;
    marked.replace(marked.find("<printed>0"), 10, "<printed>1");
    EXPECT_EQ(ReadFileBytes(root / "a/printinfo.xml"), marked);
    EXPECT_EQ(ReadFileBytes(root / "b/printinfo.xml"), original);

    EXPECT_FALSE(DocumentFolders::MarkDocumentPrinted(root / "z/doc.pdf", list));
    WriteFileBytes(root / "b/printinfo.xml", Description(""));
    EXPECT_FALSE(DocumentFolders::MarkDocumentPrinted(root / "b/doc.pdf", list));
    std::filesystem::remove(root / "c/printinfo.xml");
    EXPECT_FALSE(DocumentFolders::MarkDocumentPrinted(root / "c/doc.pdf", list));
    // A drive that refuses writes is reported, not taken for printed.
    ASSERT_EQ(::mount(nullptr, drive.MountPoint().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_FALSE(DocumentFolders::MarkDocumentPrinted(root / "d/doc.pdf", list));
    EXPECT_EQ(ReadFileBytes(root / "d/printinfo.xml"), original);

    const std::string log = Log();
    const std::string b = (root / "b/printinfo.xml").string();
    const std::string c = (root / "c/printinfo.xml").string();
    const std::string d = (root / "d/printinfo.xml").string();
    EXPECT_NE(log.find("[ERROR] Can't find XML element \"printed\" on file " + b + "\n"), std::string::npos);
    EXPECT_NE(log.find("[ERROR] Can't find " + c + "\n"), std::string::npos);
    EXPECT_NE(log.find("[ERROR] Can't load file " + c + "\n"), std::string::npos);
    EXPECT_NE(log.find("[ERROR] Can't write on file " + d + "\n"), std::string::npos);
    EXPECT_EQ(log.find("/z/"), std::string::npos);
}

TEST_F(PenDriveFolders, HostileDrivesCannotReachOutsideTheirFolders) {
    MountedVolume& drive = Mount(MountedVolume::Kind::Tmpfs, "stick");
    MountedVolume& linked = Mount(MountedVolume::Kind::Tmpfs, "linked");
    const std::filesystem::path root = drive.MountPoint() / "Ferrulo";
    WriteDocument(root / "escape", Description("<printed>0</printed>\r\n", "1", "../../../../etc/passwd"));
    std::filesystem::create_directory_symlink("/etc", root / "link");
    std::filesystem::create_directories(root / "pipe");
    ASSERT_EQ(::mkfifo((root / "pipe/printinfo.xml").c_str(), 0600), 0);
    std::filesystem::create_directories(root / "redirect");
    std::filesystem::create_symlink("/etc/hostname", root / "redirect/printinfo.xml");
    std::filesystem::create_directory_symlink("/", linked.MountPoint() / "Ferrulo");

    std::vector<RemovableDocument> list;
    std::vector<RemovableDocument> second;
    DocumentFolders(sources).ScanDocumentFolders(list, second);
    std::map<std::string, RemovableDocument> rows = ByFolderName(list);
    ASSERT_EQ(rows.size(), 3u) << "the linked folders give no rows";
    EXPECT_EQ(rows["escape"].filename, "../../../../etc/passwd");
    EXPECT_TRUE(rows["escape"].documentPath.empty());
    EXPECT_EQ(rows["pipe"].description, "");
    EXPECT_EQ(rows["redirect"].description, "");
    const std::string log = Log();
    EXPECT_NE(log.find("[ERROR] Can't load file " + (root / "pipe/printinfo.xml").string()),
              std::string::npos);
    EXPECT_NE(log.find("[ERROR] Can't load file " + (root / "redirect/printinfo.xml").string()),
              std::string::npos);
    EXPECT_NE(log.find("[ERROR] Not a file name of the document folder: ../../../../etc/passwd"),
              std::string::npos);
}
