#!/usr/bin/env bash
# The bundle as hosts and packagers meet it: it installs with the tool, validates against the
# LV2 schemas, exports one symbol, lists every voice with its ports, and lv2apply renders a file
# through each plugin that matches `quillmar render` once shifted by the reported latency.
#   lv2_bundle_test.sh BUILD_DIR QUILLMAR BUNDLE_TOOL SAMPLE_WAV
set -eu
build="$1" quillmar="$2" bundle_tool="$3" sample="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" >/dev/null
bundle="$work/usr/lib/lv2/quillmar.lv2"
for f in quillmar.so manifest.ttl quillmar.ttl; do
  test -s "$bundle/$f" || fail "$f not installed in lib/lv2/quillmar.lv2"
done
export LV2_PATH="$work/usr/lib/lv2:/usr/lib/lv2"

# Every statement checked against the schemas of lv2-dev (only those: other plugins installed
# on the machine are not ours to judge).
schemas="$(dpkg -L lv2-dev 2>/dev/null | grep '^/usr/lib/lv2/.*\.ttl$')" || schemas="$(find /usr/lib/lv2 -name '*.ttl')"
report="$(sord_validate $schemas "$bundle"/*.ttl 2>&1)" ||
  fail "sord_validate: $report"
grep -q "^Found 0 errors" <<<"$report" || fail "sord_validate: $report"

exports="$(nm -D --defined-only "$bundle/quillmar.so" | awk '{print $3}')"
[ "$exports" = "lv2_descriptor" ] || fail "the plugin exports more than lv2_descriptor: $exports"

voices="male2female femaletomale baby elder robot monster ghost strange_voice"
expected=""
for v in $voices; do
  expected+="urn:quillmar:voice:$v"$'\n'
  [ "$v" = male2female ] || expected+="urn:quillmar:voice:$v-stereo"$'\n'
done
listed="$(lv2ls | grep quillmar | sort)"
[ "$listed" = "$(sort <<<"${expected%$'\n'}")" ] || fail "lv2ls lists: $listed"

# Every control port carries its range and default; the latency port is the reported one.
for uri in $listed; do
  info="$(lv2info "$uri")"
  grep -q "Name: *Quillmar " <<<"$info" || fail "$uri has no Quillmar name"
  grep -q "Has latency: *yes" <<<"$info" || fail "$uri reports no latency"
  controls=$(grep -c "lv2core#ControlPort" <<<"$info")
  [ "$(grep -c "Minimum:" <<<"$info")" -eq "$controls" ] || fail "$uri: a control has no range"
  [ "$(grep -c "Default:" <<<"$info")" -eq $((controls - 1)) ] || fail "$uri: a control has no default"
done

# lv2apply against the command-line render. The plugin runs the engine voices on floats where
# the render works on the file's 16-bit samples, and libsndfile scales floats back by 32767
# rather than 32768: one step of 16-bit apart at most (two allowed). The input is taken down
# 6 dB so that no voice's gain reaches full scale (where the two clip differently); the stereo
# input's right channel is the left one inverted at half level, so a swap or a mix shows.
sox "$sample" -b 16 "$work/in.wav" gain -6
sox "$work/in.wav" "$work/in2.wav" remix 1 1v-0.5
# The latency each plugin reports: the figure its run() writes to the latency port.
"$bundle_tool" --latency 44100 >"$work/latency"
for uri in $listed; do
  voice="${uri#urn:quillmar:voice:}"
  input="$work/in.wav"
  [[ "$voice" == *-stereo ]] && input="$work/in2.wav"
  name="$("$quillmar" list | awk -v v="${voice%-stereo}" 'NR > 1 {
      n = $2; if ($3 !~ /^\{/) n = n " " $3; key = tolower(n); gsub(/ /, "_", key);
      if (key == v) print n }')"
  [ -n "$name" ] || fail "no voice of the tool is called $voice"
  lv2apply -i "$input" -o "$work/lv2.wav" "$uri" || fail "lv2apply $uri"
  "$quillmar" render --effect "$name" "$input" "$work/render.wav" >/dev/null
  frames="$(awk -v u="$uri" '$1 == u {print $2}' "$work/latency")"
  python3 - "$work/lv2.wav" "$work/render.wav" "$frames" "$voice" <<'PY' || exit 1
import array, sys, wave
def read(path):
    with wave.open(path) as w:
        data = array.array("h", w.readframes(w.getnframes()))
        return data, w.getnchannels()
plugin, channels = read(sys.argv[1])
render, _ = read(sys.argv[2])
shift = int(sys.argv[3]) * channels
assert len(plugin) == len(render), "lengths differ"
pairs = list(zip(plugin[shift:], render))
worst = max(abs(a - b) for a, b in pairs)
loudest = max(abs(b) for _, b in pairs)
if worst > 2 or loudest < 1000:
    sys.exit(f"FAIL: {sys.argv[4]}: differs from the render by up to {worst} (render peak {loudest})")
print(f"{sys.argv[4]}: latency {sys.argv[3]} frames, largest difference {worst} of peak {loudest}")
PY
done
