#!/usr/bin/env python3
"""kestrafin-count-walk against the files a tree holds, where a walk easily
comes up short: a chain far deeper than the descriptors it may hold, and a
file system that tells no entry's type (ext2 without it, mounted as root)."""
import os
import resource
import shutil
import subprocess
import tempfile
import unittest

WALK = os.environ["KESTRAFIN_COUNT_WALK"]
# unshare's own "--propagation private" fails where / is no mount point (a
# plain chroot); the shell then says why, and the test is skipped.
MOUNTED = ('mount --make-rprivate / || exit 77; mount -o loop,ro "$1" "$2" || exit 77; '
           'shift 2; exec "$@"')


def make_chain(root, depth):
    """A chain of `depth` folders below `root`, a file in every tenth; returns the files."""
    path = root
    for level in range(0, depth, 10):
        path = os.path.join(path, *["d"] * 10)
        os.makedirs(path)
        open(os.path.join(path, "f"), "w").close()
    return depth // 10


class CountWalk(unittest.TestCase):
    def test_trees_a_walk_comes_up_short_on(self):
        untyped = os.geteuid() == 0 and shutil.which("mkfs.ext2") and shutil.which("unshare")
        for depth, limit, on_ext2 in ((400, 100, False), (30, None, True)):
            if on_ext2 and not untyped:
                self.skipTest("mounting an ext2 image needs root, mkfs.ext2 and unshare")
            with tempfile.TemporaryDirectory() as root:
                tree, image = os.path.join(root, "tree"), os.path.join(root, "image")
                os.mkdir(tree)
                files = make_chain(tree, depth)
                prefix = []
                if on_ext2:
                    subprocess.run(["mkfs.ext2", "-q", "-O", "^filetype", "-d", tree, image, "4M"], check=True)
                    prefix = ["unshare", "-m", "--propagation", "unchanged", "sh", "-c", MOUNTED, "-",
                              image, tree]
                for threads in ([], ["--threads", "4"]):
                    done = subprocess.run(prefix + [WALK] + threads + [tree], capture_output=True, text=True,
                                          preexec_fn=limit and (lambda: resource.setrlimit(
                                              resource.RLIMIT_NOFILE, (limit, limit))))
                    if done.returncode == 77:
                        self.skipTest("the ext2 image could not be mounted privately: " +
                                      done.stderr.strip())
                    self.assertEqual((done.returncode, done.stdout.strip()), (0, str(files)),
                                     (depth, on_ext2, threads, done.stderr))


if __name__ == "__main__":
    unittest.main(verbosity=2)
