// The volume reader's check of a volume against itself, beside
// read_ntfs_volume (volume_tree.h): each folder listed by a walk of its
// index's tree, read from its index blocks and cross-checked against the
// table as block order is, rather than sorted from the table. On a volume
// whose indexes are whole this is the collation order; where the two
// differ, an index or the collation is wrong. Names are found exactly.
#pragma once

#include "volume/volume_tree.h"

namespace kestrafin::volume {

VolumeReadResult read_ntfs_volume_in_tree_order(ByteSource& source);

}  // namespace kestrafin::volume
