// One brennickd per state folder: two on one state would each take a key
// as new and charge it twice.
#pragma once

#include <string>

// Holds the state folder for the rest of the process's life (a lock on
// brennickd.lock there, which names this process). False with a sentence
// that names the folder and the process that holds it.
bool HoldStateFolder(const std::string& folder, std::string* reason);
