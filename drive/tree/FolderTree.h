// The in-memory folder tree built from one folder list: the node table and the lookup tables
// derived from it, all ordered by plain UTF-16 code unit comparison.
//
// Each entry is held once, in the node table, with its id and name in one allocation, a link
// to its parent and its fields. Paths are not stored: a folder path is the chain of names
// above a node, the path index is an open-addressing hash of (parent, upper-cased name), and
// a folder's child table is a list of links to its children in id order. A listing walks the
// child list in place.
//
// Users include this header; each part has a file of its own: TreeNode.h (the entry, the
// order of texts, paths), NodeTable.h, PathIndex.h, ChildTable.h, FolderTables.h (the tables
// kept in step through changes) and TreeBuild.h (the tables built from a folder list).
#pragma once

#include "drive/tree/ChildTable.h"
#include "drive/tree/FolderTables.h"
#include "drive/tree/NodeTable.h"
#include "drive/tree/PathIndex.h"
#include "drive/tree/TreeBuild.h"
#include "drive/tree/TreeNode.h"
