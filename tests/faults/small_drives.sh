#!/usr/bin/env bash
# Runs the fault suite with two small drives, which only root can mount:
#   Q:  a tmpfs of its own, mapped as a drive letter through the prefix's
#       dosdevices link, where the suite lays out the product;
#   C:\windows\temp as a tmpfs mount point, so that the work directory
#       below it (and the archive in it) can meet a full disk although the
#       Windows directory itself cannot move. The work directory itself is
#       not the mount point: Wine shows a mount point as a reparse point,
#       which the program rightly refuses as a link.
# Both belong to the user Wine runs as. Where mounting is impossible (not
# root, no tmpfs) the suite still runs, and its full-disk cases skip with a
# message saying why.
#
#   small_drives.sh BUILD_DIR TEST_PROGRAM.exe [gtest arguments]
set -uo pipefail
build=$1
program=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"

"$wine_run" "$build" --prepare || exit 1
prefix=$("$wine_run" "$build" --prefix)
owner=65534
[ "$(id -u)" -eq 0 ] || owner=$(id -u)

drive="$(dirname "$prefix")/small-drive-q"
work="$prefix/drive_c/windows/temp"
link="$prefix/dosdevices/q:"
mounted=()

cleanup() {
  rm -f "$link"
  for point in "${mounted[@]}"; do umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null; done
  rmdir "$drive" 2>/dev/null
  true
}
trap cleanup EXIT

reason=""
if [ "$(id -u)" -ne 0 ]; then
  reason="not root: a tmpfs cannot be mounted"
else
  mkdir -p "$drive" "$work"
  # Mounts a killed earlier session left behind go first.
  for point in "$work" "$drive"; do mountpoint -q "$point" && umount "$point"; done
  chown "$owner" "$work"
  if mount -t tmpfs -o size=2m,mode=0755,uid=$owner,gid=$owner quorin-q "$drive"; then
    mounted+=("$drive")
    if mount -t tmpfs -o size=2m,mode=0755,uid=$owner,gid=$owner quorin-temp "$work"; then
      mounted+=("$work")
      ln -sfn "$drive" "$link"
    else
      reason="mounting a tmpfs on the temporary directory failed"
    fi
  else
    reason="mounting a tmpfs failed"
  fi
fi

if [ -n "$reason" ]; then
  export QUORIN_SMALL_DRIVES_MISSING="$reason"
else
  export QUORIN_SMALL_DRIVE='Q:\'
fi
"$wine_run" "$build" "$build/bin/$program" "$@"
