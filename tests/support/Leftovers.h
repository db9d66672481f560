// What a test that crashed leaves behind, ended before the next test starts servers or mounts.
//
// Every temporary folder of the tests (TempDir) is named "quellan-<pid>-XXXXXX" after the test
// process that made it, and every process a test starts carries QUELLAN_TEST_OWNER=<pid of the
// test> in its environment (the test process sets it on itself before starting anything). A test
// process that is gone can own nothing, so EndLeftoversOfEndedTests() ends the processes it
// started, lazily unmounts the drives mounted below its folders and removes the folders.
// Tests of other processes that still run are left alone, so test programs may run in parallel.
#pragma once

#include <string>

// Ends the leftovers of test processes that are gone, and marks this process as the owner of
// what it starts from now on. Called by the fixtures that start servers or mount drives.
void EndLeftoversOfEndedTests();

// Takes every mount below `folder` out of the tree (lazily); the last resort of clean-up.
void ForceUnmountBelow(const std::string& folder);
