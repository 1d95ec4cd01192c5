#!/usr/bin/env bash
# Mutation check of the test suite: applies one small fault at a time to the system's code,
# builds the test programs that cover it in build-mutants/, runs them, and says whether some
# test noticed (killed) or not (survived). Every file is restored afterwards, also on Ctrl-C
# or an error. A developer's tool, not part of CI; see docs/testing.md.
#
# Usage: scripts/mutants.sh [--list] [--only ID,ID...] [--no-check]
#   --list      print the mutants and exit
#   --all       also run the spare mutants (EXTRA below), which the default run leaves out to
#               keep it near half an hour on a shared 2-core machine
#   --only      run only the named mutants
#   --no-check  skip the first run of every covering test on the unchanged tree
#   --texts     only check that every original text is found exactly once
# Environment: BUILD_DIR (build-mutants), MUTANT_TIMEOUT (seconds per test program, 120),
#              RESULTS (build-mutants/mutants.tsv)
#
# Each mutant is: ID | file | covering test programs | exact original text | replacement.
# The original text must occur exactly once in the file, or the script stops and says so;
# after a refactoring, re-target a mutant by editing its text here. A covering test program
# may carry a GoogleTest filter: test_link:FrameLayer*.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-build-mutants}
TIMEOUT=${MUTANT_TIMEOUT:-120}
RESULTS=${RESULTS:-$BUILD_DIR/mutants.tsv}

IDS=() FILES=() TESTS=() ORIGS=() REPLS=()
mutant() { IDS+=("$1"); FILES+=("$2"); TESTS+=("$3"); ORIGS+=("$4"); REPLS+=("$5"); }

# Covering test programs, by area.
T_IMAGE="test_image"
T_LINK="test_link test_upload_road test_link_e2e"
T_UPLOAD="test_upload_road test_upload_pieces"
T_HUNT="test_frame_hunter test_serial_library test_link_e2e"
T_TELNET="test_telnet test_serial_library"
T_LIB="test_serial_library test_link_e2e"
T_COMMON="test_settings_store test_serial_connection test_serial_library"
T_CLI="halvern_upload_cli_tests"

# ---- image/: version control file, S-record reader, release catalogue -------------------
mutant I01 image/VersionControl.cpp "$T_IMAGE" \
  'return end >= start && end - start < kImageBufferSize;' \
  'return end >= start && end - start <= kImageBufferSize;'
mutant I02 image/VersionControl.cpp "$T_IMAGE" \
  'if (length < kVersionControlMinLength) {' \
  'if (length < kVersionControlMinLength - 1) {'
mutant I03 image/VersionControl.cpp "$T_IMAGE" \
  'if (four_bytes(record.file_length) != length) {' \
  'if (four_bytes(record.file_length) > length) {'
mutant I04 image/VersionControl.cpp "$T_IMAGE" \
  'if (entry.sequence != i + 1) {' \
  'if (entry.sequence != i + 1 && i != 15) {'
mutant I05 image/VersionControl.cpp "$T_IMAGE test_upload_road" \
  'while (total > 32767) {' \
  'while (total > 65535) {'
mutant I06 image/VersionControl.cpp "$T_IMAGE" \
  "return digits.left(2) + QLatin1Char('.') + digits.mid(2, 2);" \
  "return digits.left(2) + QLatin1Char('.') + digits.mid(1, 2);"
mutant I07 image/VersionControl.cpp "$T_IMAGE" \
  'value = value * 256 + byte;' \
  'value = value * 255 + byte;'
mutant I08 image/MotorolaReader.cpp "$T_IMAGE" \
  'return (sum & 0xFF) == 0xFF;' \
  'return (sum & 0x7F) == 0x7F;'
mutant I09 image/MotorolaReader.cpp "$T_IMAGE" \
  'if (digits != 2 + 2 * qsizetype(count) || (closing' \
  'if (digits < 2 + 2 * qsizetype(count) || (closing'
mutant I10 image/MotorolaReader.cpp "$T_IMAGE" \
  'const std::int64_t last = std::min(address + length - 1, window_end_);' \
  'const std::int64_t last = std::min(address + length, window_end_);'
mutant I11 image/MotorolaReader.cpp "$T_IMAGE" \
  'image.assign(static_cast<std::size_t>(kImageBufferSize), 0xFF);' \
  'image.assign(static_cast<std::size_t>(kImageBufferSize), 0x00);'
mutant I12 image/MotorolaReader.cpp "$T_IMAGE" \
  "case '9': address_bytes = 2; closing = true; break;" \
  ""
mutant I13 image/MotorolaReader.cpp "$T_IMAGE" \
  "next += (*next == '\\r' && next + 1 < end && next[1] == '\\n') ? 2 : 1;" \
  "next += 1;"
mutant I14 image/MotorolaReader.cpp "$T_IMAGE" \
  'if (address_bytes - 2 > 2) return nullptr;' \
  'if (address_bytes - 2 > 3) return nullptr;'
mutant I15 image/ReleaseCatalogue.cpp "$T_IMAGE" \
  'if (suffix != QLatin1String(".SWV") && suffix != QLatin1String(".PJV")) continue;' \
  'if (suffix != QLatin1String(".PJV")) continue;'
mutant I16 image/ReleaseCatalogue.cpp "$T_IMAGE" \
  'return index >= 0 && index < version_files.size() ? version_files.at(index) : QString();' \
  'return index >= 0 && index <= version_files.size() - 1 && index < 16 ? version_files.at(index) : QString();'

# ---- link/: frame layer, upload-mode commands, image transfer ----------------------------
mutant L01 device/FrameFormat.h "$T_LINK projector_sim_tests" \
  'return sum & 0xFFFF;' \
  'return sum % 65535u;'
mutant L02 link/FrameLayer.cpp "$T_LINK" \
  'buffer[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>((value >> (8 * (count - 1 - k))) & 0xFF);' \
  'buffer[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>((value >> (8 * (count - 1 - k))) & 0x7F);'
mutant L03 link/FrameLayer.cpp "$T_LINK" \
  'constexpr int kLastCountedRetry = 4;' \
  'constexpr int kLastCountedRetry = 5;'
mutant L04 link/FrameLayer.cpp "$T_LINK" \
  'constexpr int kLastTransmission = 4;' \
  'constexpr int kLastTransmission = 3;'
mutant L05 link/FrameLayer.cpp "$T_LINK projector_sim_tests" \
  'put_big_endian(envelope, 18, compute_checksum(envelope, 0, 17), 2);' \
  'put_big_endian(envelope, 18, compute_checksum(envelope, 0, 16), 2);'
mutant L06 link/FrameLayer.cpp "$T_LINK" \
  'std::copy(kFrameTrailer.begin(), kFrameTrailer.end(), frame.end() - 2);' \
  'std::copy(kFrameTrailer.begin(), kFrameTrailer.end() - 1, frame.end() - 2);'
mutant L07 link/FrameLayer.cpp "$T_LINK" \
  'put_big_endian(header, kFrameDataCountAt, count, 4);' \
  'put_big_endian(header, kFrameDataCountAt, count + 1, 4);'
mutant L08 link/FrameLayer.cpp "$T_LINK" \
  'const std::int64_t frames = length / kFrameDataMax + (length % kFrameDataMax != 0 ? 1 : 0);' \
  'const std::int64_t frames = length / kFrameDataMax + 1;'
mutant L09 link/FrameLayer.cpp "$T_LINK" \
  '} while (frame_counter <= total);' \
  '} while (frame_counter < total);'
mutant L10 link/FrameLayer.cpp "$T_LINK" \
  'if (length > kReceivedFrameDataMax || position + static_cast<std::size_t>(length) > message_buffer_.size())' \
  'if (position + static_cast<std::size_t>(length) > message_buffer_.size())'
mutant L11 link/FrameLayer.cpp "$T_LINK" \
  'if (frame_buffer_[kFrameSequenceAt] == counter) {' \
  'if (frame_buffer_[kFrameSequenceAt] == counter || frame_buffer_[kFrameSequenceAt] == 0) {'
mutant L12 link/UploadLink.cpp "$T_LINK" \
  'return span / block_size + (span % block_size != 0 ? 1 : 0);' \
  'return span / block_size;'
mutant L13 link/UploadLink.cpp "$T_LINK" \
  'if (blocks > 255) {' \
  'if (blocks > 256) {'
mutant L14 link/UploadLink.cpp "$T_LINK" \
  'reporter_.message_box(QStringLiteral("Unable to acknowledge transmitted data."));' \
  ';'
mutant L15 link/UploadLink.cpp "$T_LINK" \
  'data[i] = static_cast<std::uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);' \
  'data[i] = static_cast<std::uint8_t>(i % 2 == 1 ? unit & 0xFF : unit >> 8);'
mutant L16 link/UploadLink.cpp "$T_LINK" \
  'const std::int64_t from = static_cast<std::int64_t>(n - 1) * block_size;' \
  'const std::int64_t from = static_cast<std::int64_t>(n) * block_size - block_size + (n > 1 ? 1 : 0);'
mutant L17 link/UploadLink.cpp "$T_LINK" \
  'advance_progress(view_, static_cast<long>(units_up_to(n) - units_up_to(n - 1)));' \
  'advance_progress(view_, static_cast<long>(units_up_to(n) - units_up_to(n - 1) - 1));'
mutant L18 link/UploadLink.cpp "$T_LINK" \
  'return byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : static_cast<char16_t>(byte);' \
  'return static_cast<char16_t>(byte);'
mutant L19 link/UploadLink.cpp "$T_LINK" \
  'kEndUpload = 13,' \
  'kEndUpload = 14,'

# ---- device/: frame hunter, Telnet codec, serial library, connection ---------------------
mutant D01 device/FrameHunter.cpp "$T_HUNT" \
  'if (length < kShortest || length > kLongest || length > capacity) return Verdict::kDamaged;' \
  'if (length < kShortest || length > kLongest) return Verdict::kDamaged;'
mutant D02 device/FrameHunter.cpp "$T_HUNT" \
  'c[data_sum_at + 3] != kFrameTrailer[1])' \
  'c[data_sum_at + 3] != kFrameTrailer[1] && false)'
mutant D03 device/FrameHunter.cpp "$T_HUNT" \
  'h.discard = half ? at : bytes.size();' \
  'h.discard = bytes.size();'
mutant D04 device/FrameHunter.cpp "$T_HUNT" \
  'from = at + 2;' \
  'from = at + 3;'
mutant D05 device/FrameHunter.cpp "$T_HUNT" \
  'frame_sum(c.first(kFrameHeaderSumAt)) != be(c, kFrameHeaderSumAt, 2))' \
  'false)'
mutant D06 device/Telnet.cpp "$T_TELNET" \
  'if (b == c(kIac)) out += b;' \
  'if (false) out += b;'
mutant D07 device/Telnet.cpp "$T_TELNET" \
  'static_cast<std::uint8_t>(baud_rate >> 16),' \
  'static_cast<std::uint8_t>(baud_rate >> 12),'
mutant D08 device/Telnet.cpp "$T_TELNET" \
  'return once(option == kOptionSuppressGoAhead ? kWill : kWont);' \
  'return once(kWont);'
mutant D09 device/Telnet.cpp "$T_TELNET" \
  'if (b == kSe) {' \
  'if (b == kSe + 1) {'
mutant D10 device/SerialConnection.cpp "$T_COMMON" \
  'if (result == kOk && settings_) settings_->set_startup(kHandleKey, QString::number(handle));' \
  ';'
mutant D11 device/SerialConnection.cpp "$T_COMMON" \
  'if (stored.isEmpty()) stored = QStringLiteral("0");' \
  'if (stored.isEmpty()) return;'
mutant D12 device/SerialDeviceLibrary.cpp "$T_LIB" \
  'answer[3] != request[3] || (sum & 0xFFFF) != stated)' \
  'answer[3] != request[3] || (sum & 0xFF) != (stated & 0xFF))'
mutant D13 device/SerialDeviceLibrary.cpp "$T_LIB" \
  'discard_input(*port);' \
  ';'
mutant D14 device/SerialDeviceLibrary.cpp "$T_LIB" \
  'return r == kTimeout && rejected > 0 ? kBadFrame : r;' \
  'return r;'
mutant D15 device/SerialDeviceLibrary.cpp "$T_LIB" \
  'for (int i = 0; i < kRequestSize - 1; ++i) check += static_cast<std::uint8_t>(request[i]);' \
  'for (int i = 1; i < kRequestSize - 1; ++i) check += static_cast<std::uint8_t>(request[i]);'
mutant D16 device/SerialLine.cpp "$T_LIB" \
  'if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) return fail(kAccessDenied, PortTrouble::kInUse);' \
  ';'

# ---- upload/: driver, command, cool-down, status query -----------------------------------
mutant U01 upload/UploadDriver.cpp "$T_UPLOAD" \
  'std::span<const std::uint8_t>(link_.frames().message_buffer()), 20, 4));' \
  'std::span<const std::uint8_t>(link_.frames().message_buffer()), 21, 4));'
mutant U02 upload/UploadDriver.cpp "$T_UPLOAD" \
  'reporter_.message_box(QStringLiteral("Error uploading ") + file);' \
  ';'
mutant U03 upload/UploadDriver.cpp "$T_UPLOAD $T_CLI" \
  'link_.progress_divisor = totals.progress_divisor;' \
  ';'
mutant U04 upload/UploadDriver.cpp "$T_UPLOAD" \
  'if (!link_.frames().receive_message()) return false;

    // The result is not acted on' \
  'link_.frames().receive_message();

    // The result is not acted on'
mutant U05 upload/UploadCommand.cpp "$T_UPLOAD" \
  'if (state_.device_status() != kOn)  // 1 after this request: upload mode entered' \
  'if (state_.device_status() == kCoolingDown)'
mutant U06 upload/UploadCommand.cpp "$T_UPLOAD" \
  'const QString version = selected_line.right(5);' \
  'const QString version = selected_line.right(4);'
mutant U07 upload/UploadCommand.cpp "$T_UPLOAD" \
  'connection_.close_serial_port();
    return reporter_.end(Outcome::TransferFailed, kUploadFailure);' \
  'reporter_.end(Outcome::TransferFailed, kUploadFailure);
    connection_.close_serial_port();
    return Outcome::TransferFailed;'
mutant U08 upload/CoolDown.cpp "$T_UPLOAD" \
  'value = value * (nibble > 9 ? 100 : 10) + nibble;' \
  'value = value * 10 + nibble;'
mutant U09 upload/StatusQuery.cpp "$T_UPLOAD" \
  'connection.close_serial_port();
    return outcome;' \
  'return outcome;'

# ---- common/: settings store ------------------------------------------------------------
mutant C01 common/SettingsStore.cpp "$T_COMMON" \
  'if (!ok || v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())' \
  'if (!ok || v < std::numeric_limits<std::int32_t>::min())'
mutant C02 common/SettingsStore.cpp "$T_COMMON" \
  "if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return std::nullopt;" \
  "if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) continue;"
mutant C03 common/SettingsStore.cpp "$T_COMMON" \
  'if (const auto kv = key_of(lines[i]); kv && same(kv->first, key)) found = i;' \
  'if (const auto kv = key_of(lines[i]); kv && same(kv->first, key) && !found) found = i;'
mutant C04 common/SettingsStore.cpp "$T_COMMON" \
  'bool same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }' \
  'bool same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseSensitive) == 0; }'
mutant C05 common/SettingsStore.cpp "$T_COMMON" \
  "if (next == QLatin1Char('n')) out += QLatin1Char('\\n');" \
  "if (next == QLatin1Char('n')) out += QLatin1Char('n');"
mutant C06 common/SettingsStore.cpp "$T_COMMON" \
  "if (!control && value == value.trimmed() && !value.startsWith(QLatin1Char('\"'))) return value;" \
  "if (!control && !value.startsWith(QLatin1Char('\"'))) return value;"

# ---- halvern-upload/ and the outcome it maps to an exit status (common/Outcome.h); progress
# lines; port names -----------------------------
mutant H01 common/Outcome.h "$T_CLI" \
  'case Outcome::CoolDownCancelled: return kExitCoolDownCancelled;' \
  'case Outcome::CoolDownCancelled: return kExitTransferFailed;'
mutant H02 common/Outcome.h "$T_CLI" \
  'case Outcome::ReleaseRejected: return kExitBadArguments;' \
  'case Outcome::ReleaseRejected: return kExitDeviceFailed;'
mutant H03 common/Outcome.h "$T_CLI" \
  'case Outcome::TransferFailed: return kExitTransferFailed;' \
  'case Outcome::TransferFailed: return kExitDeclined;'
mutant H04 halvern-upload/ProgressFormat.cpp "$T_CLI" \
  'return static_cast<int>(std::clamp(p, 0.0, 100.0));' \
  'return static_cast<int>(std::max(p, 0.0));'
mutant H05 halvern-upload/ProgressFormat.cpp "$T_CLI" \
  'return reached > printed_percent && reached > 0 ? reached : -1;' \
  'return reached >= printed_percent && reached > 0 ? reached : -1;'
mutant H06 halvern-upload/ProgressFormat.cpp "$T_CLI" \
  'if (bytes < 1000) return QStringLiteral("%1 B").arg(bytes);' \
  'if (bytes <= 1000) return QStringLiteral("%1 B").arg(bytes);'
mutant H07 device/PortResolver.cpp "$T_CLI test_port_resolver" \
  'for (int n = 1; n <= kComPortCount; ++n)
        if (name.compare' \
  'for (int n = 1; n <= kComPortCount + 1; ++n)
        if (name.compare'
mutant H08 halvern-upload/Arguments.cpp "$T_CLI" \
  'if (value <= 0) return std::nullopt;' \
  'if (value < 0) return std::nullopt;'
mutant H09 halvern-upload/GuardedLibrary.cpp "$T_CLI" \
  'if (stopped_ || stop_transfer()) return 0;  // "not sent"' \
  ';'

# ---- a venue's day: the version checks, the retry list, the transfer slots, the inventory ----
T_SIM="halvern_upload_cli_tests halvern_upload_sim_tests"
mutant H10 halvern-upload/Restart.cpp "$T_SIM" \
  'return !shown_version.isEmpty() && shown_version == release_version;' \
  'return !shown_version.isEmpty();'
mutant H11 halvern-upload/Report.cpp "$T_SIM" \
  'failed[port.toString()] = !kWell.contains(outcome);' \
  'failed[port.toString()] = failed.value(port.toString()) || !kWell.contains(outcome);'
mutant H12 halvern-upload/Fleet.cpp "$T_SIM" \
  'max_transfers_ > 0 && transfers_ >= max_transfers_' \
  'max_transfers_ > 0 && transfers_ > max_transfers_'
mutant H13 common/Outcome.h "$T_SIM" \
  'case Outcome::WrongVersion:
    case Outcome::NoRestart: return kExitNotVerified;' \
  'case Outcome::WrongVersion: return kExitOk;
    case Outcome::NoRestart: return kExitNotVerified;'
mutant H14 halvern-upload/FleetFormat.cpp "$T_SIM" \
  'return exit_status(o.outcome) == kExitOk;
                     });' \
  'return o.outcome == Outcome::Uploaded;
                     });'
mutant H15 halvern-upload/Inventory.cpp "$T_SIM" \
  'return all_answered ? kExitOk : kExitFleetIncomplete;' \
  'return kExitOk;'

# -----------------------------------------------------------------------------------------
# Spare mutants: as re-targetable as the others, left out of the default run for time.
EXTRA=",I02,I03,I07,I14,I16,L02,L07,L10,L11,L16,L17,L18,L19,D04,D05,D09,D11,D13,D15,U06,U09,C03,C05,C06,H05,H06,H07,H08,H09,"
ALL=0
ONLY=""
CHECK=1
TEXTS_ONLY=0
while [ $# -gt 0 ]; do
  case "$1" in
    --list)
      for i in "${!IDS[@]}"; do
        spare=""; [[ "$EXTRA" == *",${IDS[$i]},"* ]] && spare="(spare)"
        printf '%-4s %-7s %-34s %s\n' "${IDS[$i]}" "$spare" "${FILES[$i]}" "${TESTS[$i]}"
      done
      exit 0 ;;
    --only) ONLY=",$2,"; shift ;;
    --all) ALL=1 ;;
    --no-check) CHECK=0 ;;
    --texts) TEXTS_ONLY=1 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done

selected() {
  if [ -n "$ONLY" ]; then [[ "$ONLY" == *",$1,"* ]]; else [ "$ALL" = 1 ] || [[ "$EXTRA" != *",$1,"* ]]; fi
}

# The files the mutants touch, saved once and put back on every way out.
SAVE=$(mktemp -d)
restore() {
  local f
  for f in $(cd "$SAVE" && find . -type f | sed 's|^\./||'); do
    cmp -s "$SAVE/$f" "$ROOT/$f" || cp "$SAVE/$f" "$ROOT/$f"
  done
}
cleanup() { restore; rm -rf "$SAVE"; }
trap cleanup EXIT
trap 'echo "interrupted: files restored" >&2; exit 130' INT TERM
for f in $(printf '%s\n' "${FILES[@]}" | sort -u); do
  mkdir -p "$SAVE/$(dirname "$f")"
  cp -p "$f" "$SAVE/$f"
done

# A plain interpreter: a version manager's shim costs seconds a call.
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3

# Replaces ORIG by REPL in FILE; fails loudly unless ORIG occurs exactly once.
apply() {
  "$PY" - "$1" "$2" "$3" <<'EOF'
import sys
path, orig, repl = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
n = text.count(orig)
if n != 1:
    sys.exit(f"{path}: the original text occurs {n} times, not once:\n{orig}")
open(path, "w", encoding="utf-8").write(text.replace(orig, repl))
EOF
}

# Every mutant's text must be found before anything is built.
for i in "${!IDS[@]}"; do
  if selected "${IDS[$i]}"; then printf '%s\0%s\0%s\0' "${IDS[$i]}" "${FILES[$i]}" "${ORIGS[$i]}"; fi
done | "$PY" -c '
import sys
fields = sys.stdin.buffer.read().decode().split("\0")[:-1]
bad = 0
for ident, path, orig in zip(fields[0::3], fields[1::3], fields[2::3]):
    n = open(path, encoding="utf-8").read().count(orig)
    if n != 1:
        bad += 1
        print(f"mutant {ident}: {path}: the original text occurs {n} times, not once:\n{orig}", file=sys.stderr)
sys.exit(1 if bad else 0)
' || exit 1
if [ "$TEXTS_ONLY" = 1 ]; then echo "every selected mutant's text is found exactly once"; exit 0; fi

export CCACHE_BASEDIR=$ROOT
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" >/dev/null

programs() { local t; for t in $1; do echo "${t%%:*}"; done | sort -u; }
build() { cmake --build "$BUILD_DIR" -j"$(nproc)" --target $(programs "$1") >"$BUILD_DIR/mutant-build.log" 2>&1; }

# Runs the covering tests; prints the first program that failed (or timed out), nothing when
# all passed.
run_tests() {
  local t prog filter exe
  for t in $1; do
    prog=${t%%:*}
    filter='*'
    [[ "$t" == *:* ]] && filter=${t#*:}
    exe=$(find "$BUILD_DIR" -type f -perm -u+x -name "$prog" | head -n1)
    if [ -z "$exe" ]; then echo "$prog(missing)"; return; fi
    if ! (cd "$(dirname "$exe")" && QT_QPA_PLATFORM=offscreen timeout -k 5 "$TIMEOUT" "./$prog" \
            --gtest_filter="$filter" --gtest_brief=1 >/dev/null 2>&1); then
      echo "$prog"
      return
    fi
  done
}

all_tests=$(for i in "${!IDS[@]}"; do if selected "${IDS[$i]}"; then echo "${TESTS[$i]}"; fi; done | tr ' ' '\n' | sort -u | tr '\n' ' ')
echo "building: $(programs "$all_tests" | tr '\n' ' ')"
build "$all_tests" || { echo "the unchanged tree does not build; see $BUILD_DIR/mutant-build.log" >&2; exit 1; }
if [ "$CHECK" = 1 ]; then
  failed=$(run_tests "$all_tests")
  if [ -n "$failed" ]; then echo "the unchanged tree fails $failed; fix that first" >&2; exit 1; fi
  echo "unchanged tree: all covering tests pass"
fi

printf 'id\tfile\tresult\tby\n' >"$RESULTS"
killed=0 survived=0 broken=0
start=$(date +%s)
for i in "${!IDS[@]}"; do
  id=${IDS[$i]}
  selected "$id" || continue
  file=${FILES[$i]}
  apply "$file" "${ORIGS[$i]}" "${REPLS[$i]}"
  if ! build "${TESTS[$i]}"; then
    result="no-build" by="-"; broken=$((broken + 1))
  else
    by=$(run_tests "${TESTS[$i]}")
    if [ -n "$by" ]; then result="killed"; killed=$((killed + 1)); else result="SURVIVED"; by="-"; survived=$((survived + 1)); fi
  fi
  cp "$SAVE/$file" "$file"  # a new time stamp: the restored file is compiled again (ccache)
  printf '%-4s %-34s %-9s %s\n' "$id" "$file" "$result" "$by"
  printf '%s\t%s\t%s\t%s\n' "$id" "$file" "$result" "$by" >>"$RESULTS"
done
echo "killed $killed, survived $survived, did not build $broken, in $(( $(date +%s) - start )) s; table in $RESULTS"
