// Forgetting what was kept of a file's content once that content changed.
#pragma once

#include <string>
#include <vector>

struct StorageProcess;

// The content of these files changed or they are gone: their read links and head files (in
// `programFolder`) are dropped, so that the next open asks for a new link and reads one
// version whole.
void ForgetContent(StorageProcess& shared, const std::string& programFolder,
                   const std::vector<std::u16string>& ids);
