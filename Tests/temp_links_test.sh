#!/usr/bin/env bash
# Removing a temporary folder that holds a link to a folder outside it (a
# symbolic link here, as a junction would be on Windows), or that has itself
# been replaced by one, removes what is inside the folder and nothing the
# link points to.
#   temp_links_test.sh BASALT_TESTS_EXE WORK_DIR
set -u
tests=$1 work=$2
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"
rm -rf "$work" && mkdir -p "$work/registered/sub" "$work/outside/deeper"
printf 'in' >"$work/registered/inside.txt"
printf 'in' >"$work/registered/sub/inner.txt"
printf 'keep' >"$work/outside/precious.txt"
printf 'keep' >"$work/outside/deeper/also.txt"
ln -s ../outside "$work/registered/link"
GLEAN_LINK_FOLDER=$(win "$work/registered") "$WINE" "$tests" --gtest_brief=1 \
  --gtest_filter='TempFolders.RemovalLeavesWhatALinkPointsTo' || exit 1
fail=0
for kept in precious.txt deeper/also.txt; do
  [ -f "$work/outside/$kept" ] || { echo "$kept outside the folder was deleted"; fail=1; }
done
for gone in inside.txt sub; do
  [ ! -e "$work/registered/$gone" ] || { echo "$gone is still in the folder"; fail=1; }
done
# The registered folder itself replaced by a link: the link may go, what it
# points to stays.
ln -s outside "$work/replaced"
GLEAN_LINKED_ROOT=$(win "$work/replaced") "$WINE" "$tests" --gtest_brief=1 \
  --gtest_filter='TempFolders.AFolderReplacedByALinkLeavesItsTarget' || exit 1
for kept in precious.txt deeper/also.txt; do
  [ -f "$work/outside/$kept" ] || { echo "$kept behind the replaced folder was deleted"; fail=1; }
done
exit $fail
