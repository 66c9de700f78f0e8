#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// One document found in a document folder on a removable drive, as its description file gives it.
struct RemovableDocument {
    std::string title;
    std::string description;
    std::string application;
    std::string filename;
    // The raw 14-digit creation time.
    std::string datetime;
    // One copy and not printed until a description file says otherwise.
    std::int32_t copies = 1;
    bool printed = false;
    // The document folder joined with `filename`; empty when the file name is not a plain name of
    // that folder (so nothing outside the folder is ever printed).
    std::filesystem::path documentPath;
    std::filesystem::path descriptionPath;
    std::filesystem::path folderPath;
};
