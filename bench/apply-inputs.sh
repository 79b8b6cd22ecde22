# shellcheck shell=bash
# Realistic inputs of an apply run for the measurements, made with the real
# platform tools: an old client image holding 10,240 files in 272
# directories, and a bundle against it that removes 500 files, replaces the
# contents of 500, adds 500 and fixes the owner and mode of 200, with a
# checker database of the tree the run produces. Sourced by
# sandbox-apply.sh (inside the sandbox); uses the fixture helpers of
# tests/e2e/fixtures.sh (loop mounts undone at exit, fx_make_fs, fx_run).
#
# The old tree: 16 directories t00..t15 of 16 directories s00..s15 of 40
# files f00..f39 (every directory stays within one 1 KB block, so the
# checker's directory sizes are the same in every freshly made image);
# file k holds 200 + (k * 7919 mod 3900) bytes (about 2 KB on average,
# 22 MB in all); t03 belongs to 500:100, t07/s0* to 1:1, every 13th file
# has mode 755.

BI_STAGE=/tmp/bench-stage
BI_MOUNT=/tftpboot/image/zor_image
BI_INODES=16384
BI_FSTYPE=ext3

# bi_each_file FUNCTION: calls FUNCTION K PATH for every file of the old
# tree, K counting from 0.
bi_each_file() {
    local t s f k=0 path
    for ((t = 0; t < 16; t++)); do
        for ((s = 0; s < 16; s++)); do
            for ((f = 0; f < 40; f++)); do
                printf -v path 't%02d/s%02d/f%02d' $t $s $f
                "$1" "$k" "$path"
                k=$((k + 1))
            done
        done
    done
}

bi_write_file() {
    local pad
    printf -v pad '%*s' $((200 + ($1 * 7919) % 3900)) ''
    printf '%s\n%s\n' "$2" "$pad" >"$BI_STAGE/old/$2"
}

bi_pick_modes() {
    if (($1 % 13 == 0)); then printf '%s\0' "$BI_STAGE/old/$2" >>"$BI_STAGE/exec.list"; fi
}

# The changes, by file number: removed (k % 20 == 3), replaced
# (k % 20 == 7), both below 10,000: 500 each; fixed (k % 20 == 11, below
# 4,000): 200. Added: n00 and n01 in each of the first 250 directories.
bi_pick_changes() {
    local k=$1 path=$2 pad
    if ((k < 10000 && k % 20 == 3)); then
        echo "rm -f ./$path" >>"$BI_STAGE/bash1"
    elif ((k < 10000 && k % 20 == 7)); then
        echo "rm -f ./$path" >>"$BI_STAGE/bash1"
        printf -v pad '%*s' $((300 + ($k * 104729) % 3900)) ''
        printf '%s (new)\n%s\n' "$path" "$pad" >"$BI_STAGE/payload/$path"
        echo "$path" >>"$BI_STAGE/payload.list"
    elif ((k < 4000 && k % 20 == 11)); then
        echo "chown 1234:4321 ./$path" >>"$BI_STAGE/bash2"
        echo "chmod 640 ./$path" >>"$BI_STAGE/bash2"
    fi
}

# The old tree, the scripts, the payload and the checker's own keys; made
# once per sandbox.
bi_stage() {
    local t s d pad
    [ -d "$BI_STAGE" ] && return 0
    mkdir -p "$BI_STAGE/old" "$BI_STAGE/payload" "$BI_STAGE/tw" "$BI_STAGE/ctl"
    for ((t = 0; t < 16; t++)); do
        for ((s = 0; s < 16; s++)); do
            printf -v d 't%02d/s%02d' $t $s
            mkdir -p "$BI_STAGE/old/$d" "$BI_STAGE/payload/$d"
        done
    done
    : >"$BI_STAGE/exec.list"
    bi_each_file bi_write_file
    bi_each_file bi_pick_modes
    xargs -0 -r chmod 755 <"$BI_STAGE/exec.list"
    chown -R 500:100 "$BI_STAGE/old/t03"
    chown -R 1:1 "$BI_STAGE/old/t07/"s0*

    printf '#!/bin/bash\n# Removes deleted and replaced files; runs in the new image root.\n' >"$BI_STAGE/bash1"
    printf '#!/bin/bash\n# Fixes owners and modes; runs in the new image root.\n' >"$BI_STAGE/bash2"
    : >"$BI_STAGE/payload.list"
    bi_each_file bi_pick_changes
    local n=0
    for ((t = 0; t < 16 && n < 250; t++)); do
        for ((s = 0; s < 16 && n < 250; s++)); do
            printf -v d 't%02d/s%02d' $t $s
            for f in n00 n01; do
                printf -v pad '%*s' $((500 + n * 13)) ''
                printf '%s/%s (added)\n%s\n' "$d" "$f" "$pad" >"$BI_STAGE/payload/$d/$f"
                echo "$d/$f" >>"$BI_STAGE/payload.list"
            done
            n=$((n + 1))
        done
    done
    chmod 755 "$BI_STAGE/bash1" "$BI_STAGE/bash2"
    fx_run "payload tar" tar --numeric-owner -cjpf "$BI_STAGE/maint.tar.bz2" \
        -C "$BI_STAGE/payload" --no-recursion -T "$BI_STAGE/payload.list"

    fx_checker_files "$BI_STAGE/tw" "$BI_STAGE/ctl/tw.maint_db" "$BI_MOUNT -> pugsM ;"
}

# bi_names SIZE gz|plain: sets BI_OLD and BI_NEW (image file names) and
# BI_BUNDLE (bundle path) of one variant.
bi_names() {
    local ext=img
    [ "$2" = gz ] && ext=img.gz
    BI_OLD=bench$1-1.0.$ext
    BI_NEW=bench$1-1.1.$ext
    BI_BUNDLE=$BI_STAGE/bench$1-$2.tar
}

# bi_make SIZE gz|plain: the old image in /tftpboot/image and the bundle.
bi_make() {
    local size=$1 kind=$2 raw="$FX_TMP/old.img" exp="$FX_TMP/expected.img"
    bi_names "$size" "$kind"
    mkdir -p "$FX_TMP/mnt" "$BI_MOUNT"
    fx_make_fs "$raw" "$size" "$BI_INODES" "$BI_FSTYPE"
    fx_mount "$raw" "$FX_TMP/mnt"
    cp -a "$BI_STAGE/old"/* "$FX_TMP/mnt" || fx_die "cp -a into the old image failed"
    fx_umount "$FX_TMP/mnt"

    # The tree the run produces, built as the run builds it, and its database.
    fx_make_fs "$exp" "$size" "$BI_INODES" "$BI_FSTYPE"
    fx_mount "$raw" "$FX_TMP/mnt" ro
    fx_mount "$exp" "$BI_MOUNT"
    cp -a "$FX_TMP/mnt"/* "$BI_MOUNT" || fx_die "cp -a into the expected image failed"
    fx_umount "$FX_TMP/mnt"
    (cd "$BI_MOUNT" && "$BI_STAGE/bash1" && tar --same-owner -xpjf "$BI_STAGE/maint.tar.bz2" &&
        "$BI_STAGE/bash2") >"$FX_TMP/apply.out" 2>&1 || { cat "$FX_TMP/apply.out" >&2; fx_die "applying the bundle to the expected tree failed"; }
    rm -f "$BI_STAGE/ctl/tw.maint_db"
    fx_run "tripwire --init" tripwire --init -e -c "$BI_STAGE/tw/tw.cfg" -p "$BI_STAGE/tw/tw.pol"
    fx_umount "$BI_MOUNT"
    rm -f "$exp"

    if [ "$kind" = gz ]; then
        gzip -c "$raw" >"/tftpboot/image/$BI_OLD" || fx_die "gzip of the old image failed"
        rm -f "$raw"
    else
        mv "$raw" "/tftpboot/image/$BI_OLD"
    fi
    cat >"$BI_STAGE/ctl/maintData" <<EOF
oldImageName=$BI_OLD
oldImageMD5=$(md5sum <"/tftpboot/image/$BI_OLD" | cut -d' ' -f1)
newImageName=$BI_NEW
newImageSize=$size
newImageFStype=$BI_FSTYPE
newImageInodes=$BI_INODES
EOF
    cp "$BI_STAGE/bash1" "$BI_STAGE/ctl/maint_cmd_bash1"
    cp "$BI_STAGE/bash2" "$BI_STAGE/ctl/maint_cmd_bash2"
    fx_run "control tar" tar --numeric-owner -cjf "$FX_TMP/control.tar.bz2" -C "$BI_STAGE/ctl" \
        maint_cmd_bash1 maint_cmd_bash2 maintData tw.maint_db
    cp "$BI_STAGE/maint.tar.bz2" "$FX_TMP/maint.tar.bz2"
    fx_run "bundle tar" tar --numeric-owner -cf "$BI_BUNDLE" -C "$FX_TMP" control.tar.bz2 maint.tar.bz2
    rm -f "$FX_TMP/control.tar.bz2" "$FX_TMP/maint.tar.bz2"
}

# bi_drop SIZE gz|plain: removes a variant's images and bundle.
bi_drop() {
    bi_names "$1" "$2"
    rm -f "/tftpboot/image/$BI_OLD" "/tftpboot/image/$BI_NEW" "/tftpboot/image/${BI_NEW%.gz}" \
        "/tftpboot/image/${BI_NEW%.img*}".*md5 "$BI_BUNDLE"
}
