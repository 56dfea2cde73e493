#!/bin/sh
# Regenerates the SDK's six short tones (8 kHz, mono, 16-bit WAV) into
# resources/PellixSDK.bundle/audio. The files are committed; run this only to
# change a tone.
set -eu
out="$(dirname "$0")/../resources/PellixSDK.bundle/audio"
mkdir -p "$out"
tone() { name=$1; shift; sox -n -r 8000 -c 1 -b 16 "$out/$name.wav" "$@"; }
tone incoming   synth 0.4 sine 440 sine 480 remix - gain -6 fade 0.01 0.4 0.05
tone outgoing   synth 0.3 sine 425 gain -6 fade 0.01 0.3 0.05
tone message    synth 0.15 sine 880 gain -6 fade 0.005 0.15 0.03
tone button     synth 0.05 sine 1200 gain -8 fade 0.002 0.05 0.01
tone busy       synth 0.25 sine 480 sine 620 remix - gain -6 fade 0.01 0.25 0.03
tone doorisbusy synth 0.2 sine 620 gain -6 synth 0.2 sine mix 310 fade 0.01 0.2 0.03
