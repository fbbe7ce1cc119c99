#pragma once

#include <memory>
#include <string>

class TFeedList;

// Reads the catalogue from fileName (a missing file gives an empty one). A file that cannot be read
// shows its message ("The feeds file is corrupted", "Cannot open file %s") with the question
// whether to set it aside and start empty. No, the default, returns nullptr and leaves the file as
// it is: start-up ends. Yes renames it to DamagedFileName(fileName) and returns an empty catalogue;
// when even the rename fails, that is shown and nullptr returned. The file is never deleted.
std::unique_ptr<TFeedList> OpenCatalogue(const std::string& fileName);

// The name a damaged file is set aside under: fileName + ".damaged", or when that is taken by an
// earlier one, the first free of fileName + ".damaged.2", ".damaged.3", ...
std::string DamagedFileName(const std::string& fileName);

// Writes the catalogue; a failure ("Cannot create file %s") is shown in a box. True when saved.
bool SaveCatalogue(TFeedList& feeds);
