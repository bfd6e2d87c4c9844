<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Oskel</name>
    <message>
        <source>About Oskel</source>
        <translation>About Oskel</translation>
    </message>
    <message>
        <source>Hide Oskel</source>
        <translation>Hide Oskel</translation>
    </message>
    <message>
        <source>Hide Others</source>
        <translation>Hide Others</translation>
    </message>
    <message>
        <source>Show All</source>
        <translation>Show All</translation>
    </message>
    <message>
        <source>Quit Oskel</source>
        <translation>Quit Oskel</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Check for Updates…</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Call</translation>
    </message>
    <message>
        <source>Start Translating</source>
        <translation>Start Translating</translation>
    </message>
    <message>
        <source>Stop Translating</source>
        <translation>Stop Translating</translation>
    </message>
    <message>
        <source>Record Call</source>
        <translation>Record Call</translation>
    </message>
    <message>
        <source>Stop Recording</source>
        <translation>Stop Recording</translation>
    </message>
    <message>
        <source>Recordings</source>
        <translation>Recordings</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>Oskel</source>
        <translation>Oskel</translation>
    </message>
    <message>
        <source>Welcome to Oskel</source>
        <translation>Welcome to Oskel</translation>
    </message>
    <message>
        <source>Updating Oskel</source>
        <translation>Updating Oskel</translation>
    </message>
    <message>
        <source>LIVE</source>
        <translation>LIVE</translation>
    </message>
    <message>
        <source>DIRECT</source>
        <translation>DIRECT</translation>
    </message>
    <message>
        <source>Oskel %1 is available</source>
        <translation>Oskel %1 is available</translation>
    </message>
    <message>
        <source>Oskel %1 is available — finish your call to install</source>
        <translation>Oskel %1 is available — finish your call to install</translation>
    </message>
    <message>
        <source>Downloading Oskel %1…</source>
        <translation>Downloading Oskel %1…</translation>
    </message>
    <message>
        <source>Installing Oskel %1…</source>
        <translation>Installing Oskel %1…</translation>
    </message>
    <message>
        <source>Oskel %1 — update failed</source>
        <translation>Oskel %1 — update failed</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Download and install Oskel %1</source>
        <translation>Download and install Oskel %1</translation>
    </message>
    <message>
        <source>Live interpreter for your calls</source>
        <translation>Live interpreter for your calls</translation>
    </message>
    <message>
        <source>Recordings (%1)</source>
        <translation>Recordings (%1)</translation>
    </message>
    <message>
        <source>Recorded calls</source>
        <translation>Recorded calls</translation>
    </message>
    <message>
        <source>API key</source>
        <translation>API key</translation>
    </message>
    <message>
        <source>Change the OpenAI API key</source>
        <translation>Change the OpenAI API key</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>Starting</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Connecting</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Reconnecting</translation>
    </message>
    <message>
        <source>Direct</source>
        <translation>Direct</translation>
    </message>
    <message>
        <source>Stopping</source>
        <translation>Stopping</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>In person</source>
        <translation>In person</translation>
    </message>
    <message>
        <source>Put the Mac between you. What each person says plays from the speaker in the other language.</source>
        <translation>Put the Mac between you. What each person says plays from the speaker in the other language.</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Swap languages</source>
        <translation>Swap languages</translation>
    </message>
    <message>
        <source>Speech is detected automatically — choose the language each side hears.</source>
        <translation>Speech is detected automatically — choose the language each side hears.</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Speaker</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>System default</translation>
    </message>
    <message>
        <source>System default · %1</source>
        <translation>System default · %1</translation>
    </message>
    <message>
        <source>Who’s speaking</source>
        <translation>Who’s speaking</translation>
    </message>
    <message>
        <source>Tap whoever is about to speak, or press Space.</source>
        <translation>Tap whoever is about to speak, or press Space.</translation>
    </message>
    <message>
        <source>Captions</source>
        <translation>Captions</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Nothing yet</source>
        <translation>Nothing yet</translation>
    </message>
    <message>
        <source>Them</source>
        <translation>Them</translation>
    </message>
    <message>
        <source>You</source>
        <translation>You</translation>
    </message>
    <message>
        <source>Your input level</source>
        <translation>Your input level</translation>
    </message>
    <message>
        <source>Their input level</source>
        <translation>Their input level</translation>
    </message>
    <message>
        <source>Record this call to a file</source>
        <translation>Record this call to a file</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>Saved recording · %1</source>
        <translation>Saved recording · %1</translation>
    </message>
    <message>
        <source>Reveal in Finder</source>
        <translation>Reveal in Finder</translation>
    </message>
    <message>
        <source>Switching to your new settings…</source>
        <translation>Switching to your new settings…</translation>
    </message>
    <message>
        <source>Then pick **Oskel Microphone** and **Oskel Speaker** as the audio devices in Zoom.</source>
        <translation>Then pick **Oskel Microphone** and **Oskel Speaker** as the audio devices in Zoom.</translation>
    </message>
    <message>
        <source>In Zoom → Audio: Microphone **Oskel Microphone**, Speaker **Oskel Speaker**</source>
        <translation>In Zoom → Audio: Microphone **Oskel Microphone**, Speaker **Oskel Speaker**</translation>
    </message>
    <message>
        <source>Voice-over</source>
        <translation>Voice-over</translation>
    </message>
    <message>
        <source>Keep the original voice audible under the translation</source>
        <translation>Keep the original voice audible under the translation</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Duck while the translation plays</source>
        <translation>Duck while the translation plays</translation>
    </message>
    <message>
        <source>Original</source>
        <translation>Original</translation>
    </message>
    <message>
        <source>Ducked</source>
        <translation>Ducked</translation>
    </message>
    <message>
        <source>Echo cancellation</source>
        <translation>Echo cancellation</translation>
    </message>
    <message>
        <source>Stops your speakers' output from being translated back</source>
        <translation>Stops your speakers' output from being translated back</translation>
    </message>
    <message>
        <source>Room microphone</source>
        <translation>Room microphone</translation>
    </message>
    <message>
        <source>Using a laptop or conference mic instead of a headset</source>
        <translation>Using a laptop or conference mic instead of a headset</translation>
    </message>
    <message>
        <source>Group call</source>
        <translation>Group call</translation>
    </message>
    <message>
        <source>Turn this on when more than one person is on the call</source>
        <translation>Turn this on when more than one person is on the call</translation>
    </message>
    <message>
        <source>Live transcript of both sides (billed by OpenAI)</source>
        <translation>Live transcript of both sides (billed by OpenAI)</translation>
    </message>
    <message>
        <source>Live transcript of both sides (included)</source>
        <translation>Live transcript of both sides (included)</translation>
    </message>
    <message>
        <source>Audio driver not installed</source>
        <translation>Audio driver not installed</translation>
    </message>
    <message>
        <source>Oskel needs its virtual microphone and speaker. Installing asks for your password and restarts audio for a second.</source>
        <translation>Oskel needs its virtual microphone and speaker. Installing asks for your password and restarts audio for a second.</translation>
    </message>
    <message>
        <source>Install Driver</source>
        <translation>Install Driver</translation>
    </message>
    <message>
        <source>Build and install it from macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</source>
        <translation>Build and install it from macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Show Folder</source>
        <translation>Show Folder</translation>
    </message>
    <message>
        <source>Stereo WAV, 48 kHz. Left channel: what they heard · Right channel: what you heard. Files live in ~/Music/Oskel Recordings.</source>
        <translation>Stereo WAV, 48 kHz. Left channel: what they heard · Right channel: what you heard. Files live in ~/Music/Oskel Recordings.</translation>
    </message>
    <message>
        <source>No recordings yet</source>
        <translation>No recordings yet</translation>
    </message>
    <message>
        <source>While a call is live, press the record button next to Stop. Each call is saved as a WAV file.</source>
        <translation>While a call is live, press the record button next to Stop. Each call is saved as a WAV file.</translation>
    </message>
    <message>
        <source>OpenAI API key</source>
        <translation>OpenAI API key</translation>
    </message>
    <message>
        <source>Get a key</source>
        <translation>Get a key</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Try it now: talk, and hear yourself in another language.</source>
        <translation>Try it now: talk, and hear yourself in another language.</translation>
    </message>
    <message>
        <source>You speak the language on the left. Your speakers play it in the one on the right.</source>
        <translation>You speak the language on the left. Your speakers play it in the one on the right.</translation>
    </message>
    <message>
        <source>Say something. You’ll hear the translation from your speakers.</source>
        <translation>Say something. You’ll hear the translation from your speakers.</translation>
    </message>
    <message>
        <source>Oskel needs your microphone. Turn it on in System Settings, then press Start Translating.</source>
        <translation>Oskel needs your microphone. Turn it on in System Settings, then press Start Translating.</translation>
    </message>
    <message>
        <source>Open System Settings</source>
        <translation>Open System Settings</translation>
    </message>
    <message>
        <source>Echo cancellation is off for this microphone or speaker. Use headphones so the translation isn’t picked up again.</source>
        <translation>Echo cancellation is off for this microphone or speaker. Use headphones so the translation isn’t picked up again.</translation>
    </message>
    <message>
        <source>Get Started</source>
        <translation>Get Started</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Checking for updates…</translation>
    </message>
    <message>
        <source>Oskel %1 is ready to download</source>
        <translation>Oskel %1 is ready to download</translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation>Downloading update…</translation>
    </message>
    <message>
        <source>Verifying update…</source>
        <translation>Verifying update…</translation>
    </message>
    <message>
        <source>Installing update…</source>
        <translation>Installing update…</translation>
    </message>
    <message>
        <source>Restarting Oskel…</source>
        <translation>Restarting Oskel…</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Update failed</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 of %2</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>Checking the file's signature.</source>
        <translation>Checking the file's signature.</translation>
    </message>
    <message>
        <source>macOS will ask for your password.</source>
        <translation>macOS will ask for your password.</translation>
    </message>
    <message>
        <source>Oskel will reopen in a moment.</source>
        <translation>Oskel will reopen in a moment.</translation>
    </message>
    <message>
        <source>Try Again</source>
        <translation>Try Again</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to start translating.</source>
        <translation>Add your OpenAI API key to start translating.</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to try Oskel.</source>
        <translation>Add your OpenAI API key to try Oskel.</translation>
    </message>
</context>
</TS>
