<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Oskel</name>
    <message>
        <source>About Oskel</source>
        <translation>Über Oskel</translation>
    </message>
    <message>
        <source>Hide Oskel</source>
        <translation>Oskel ausblenden</translation>
    </message>
    <message>
        <source>Hide Others</source>
        <translation>Andere ausblenden</translation>
    </message>
    <message>
        <source>Show All</source>
        <translation>Alle einblenden</translation>
    </message>
    <message>
        <source>Quit Oskel</source>
        <translation>Oskel beenden</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Ablage</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen …</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Widerrufen</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einsetzen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Anruf</translation>
    </message>
    <message>
        <source>Start Translating</source>
        <translation>Übersetzung starten</translation>
    </message>
    <message>
        <source>Stop Translating</source>
        <translation>Übersetzung beenden</translation>
    </message>
    <message>
        <source>Record Call</source>
        <translation>Anruf aufnehmen</translation>
    </message>
    <message>
        <source>Stop Recording</source>
        <translation>Aufnahme beenden</translation>
    </message>
    <message>
        <source>Recordings</source>
        <translation>Aufnahmen</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoomen</translation>
    </message>
    <message>
        <source>Oskel</source>
        <translation>Oskel</translation>
    </message>
    <message>
        <source>Welcome to Oskel</source>
        <translation>Willkommen bei Oskel</translation>
    </message>
    <message>
        <source>Updating Oskel</source>
        <translation>Oskel wird aktualisiert</translation>
    </message>
    <message>
        <source>LIVE</source>
        <translation>LIVE</translation>
    </message>
    <message>
        <source>DIRECT</source>
        <translation>DIREKT</translation>
    </message>
    <message>
        <source>Oskel %1 is available</source>
        <translation>Oskel %1 ist verfügbar</translation>
    </message>
    <message>
        <source>Oskel %1 is available — finish your call to install</source>
        <translation>Oskel %1 ist verfügbar – beende deinen Anruf, um es zu installieren</translation>
    </message>
    <message>
        <source>Downloading Oskel %1…</source>
        <translation>Oskel %1 wird geladen …</translation>
    </message>
    <message>
        <source>Installing Oskel %1…</source>
        <translation>Oskel %1 wird installiert …</translation>
    </message>
    <message>
        <source>Oskel %1 — update failed</source>
        <translation>Oskel %1 – Update fehlgeschlagen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Download and install Oskel %1</source>
        <translation>Oskel %1 laden und installieren</translation>
    </message>
    <message>
        <source>Live interpreter for your calls</source>
        <translation>Live-Dolmetscher für deine Anrufe</translation>
    </message>
    <message>
        <source>Recordings (%1)</source>
        <translation>Aufnahmen (%1)</translation>
    </message>
    <message>
        <source>Recorded calls</source>
        <translation>Aufgenommene Anrufe</translation>
    </message>
    <message>
        <source>API key</source>
        <translation>API-Schlüssel</translation>
    </message>
    <message>
        <source>Change the OpenAI API key</source>
        <translation>OpenAI-API-Schlüssel ändern</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>Startet</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Verbindet</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Verbindet neu</translation>
    </message>
    <message>
        <source>Direct</source>
        <translation>Direkt</translation>
    </message>
    <message>
        <source>Stopping</source>
        <translation>Stoppt</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>In person</source>
        <translation>Vor Ort</translation>
    </message>
    <message>
        <source>Put the Mac between you. What each person says plays from the speaker in the other language.</source>
        <translation>Stellt den Mac zwischen euch. Was jede Person sagt, kommt in der anderen Sprache aus dem Lautsprecher.</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>Swap languages</source>
        <translation>Sprachen tauschen</translation>
    </message>
    <message>
        <source>Speech is detected automatically — choose the language each side hears.</source>
        <translation>Die gesprochene Sprache wird automatisch erkannt – wähle, welche Sprache jede Seite hört.</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Lautsprecher</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Systemstandard</translation>
    </message>
    <message>
        <source>System default · %1</source>
        <translation>Systemstandard · %1</translation>
    </message>
    <message>
        <source>Who’s speaking</source>
        <translation>Wer spricht</translation>
    </message>
    <message>
        <source>Tap whoever is about to speak, or press Space.</source>
        <translation>Tippe auf die Person, die gleich spricht, oder drücke die Leertaste.</translation>
    </message>
    <message>
        <source>Captions</source>
        <translation>Untertitel</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Nothing yet</source>
        <translation>Noch nichts</translation>
    </message>
    <message>
        <source>Them</source>
        <translation>Gegenüber</translation>
    </message>
    <message>
        <source>You</source>
        <translation>Du</translation>
    </message>
    <message>
        <source>Your input level</source>
        <translation>Dein Eingangspegel</translation>
    </message>
    <message>
        <source>Their input level</source>
        <translation>Eingangspegel des Gegenübers</translation>
    </message>
    <message>
        <source>Record this call to a file</source>
        <translation>Diesen Anruf in eine Datei aufnehmen</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Aufnahme beenden</translation>
    </message>
    <message>
        <source>Saved recording · %1</source>
        <translation>Aufnahme gesichert · %1</translation>
    </message>
    <message>
        <source>Reveal in Finder</source>
        <translation>Im Ordner zeigen</translation>
    </message>
    <message>
        <source>Switching to your new settings…</source>
        <translation>Deine neuen Einstellungen werden übernommen …</translation>
    </message>
    <message>
        <source>Then pick **Oskel Microphone** and **Oskel Speaker** as the audio devices in Zoom.</source>
        <translation>Wähle dann in Zoom **Oskel Microphone** und **Oskel Speaker** als Audiogeräte.</translation>
    </message>
    <message>
        <source>In Zoom → Audio: Microphone **Oskel Microphone**, Speaker **Oskel Speaker**</source>
        <translation>In Zoom → Audio: Mikrofon **Oskel Microphone**, Lautsprecher **Oskel Speaker**</translation>
    </message>
    <message>
        <source>Voice-over</source>
        <translation>Originalstimme</translation>
    </message>
    <message>
        <source>Keep the original voice audible under the translation</source>
        <translation>Die Originalstimme unter der Übersetzung hörbar lassen</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Duck while the translation plays</source>
        <translation>Absenken, während die Übersetzung läuft</translation>
    </message>
    <message>
        <source>Original</source>
        <translation>Original</translation>
    </message>
    <message>
        <source>Ducked</source>
        <translation>Abgesenkt</translation>
    </message>
    <message>
        <source>Echo cancellation</source>
        <translation>Echounterdrückung</translation>
    </message>
    <message>
        <source>Stops your speakers' output from being translated back</source>
        <translation>Verhindert, dass der Ton deiner Lautsprecher zurückübersetzt wird</translation>
    </message>
    <message>
        <source>Room microphone</source>
        <translation>Raummikrofon</translation>
    </message>
    <message>
        <source>Using a laptop or conference mic instead of a headset</source>
        <translation>Laptop- oder Konferenzmikrofon statt Headset</translation>
    </message>
    <message>
        <source>Group call</source>
        <translation>Gruppenanruf</translation>
    </message>
    <message>
        <source>Turn this on when more than one person is on the call</source>
        <translation>Einschalten, wenn mehr als eine Person im Anruf ist</translation>
    </message>
    <message>
        <source>Live transcript of both sides (billed by OpenAI)</source>
        <translation>Live-Transkript beider Seiten (von OpenAI berechnet)</translation>
    </message>
    <message>
        <source>Live transcript of both sides (included)</source>
        <translation>Live-Transkript beider Seiten (inklusive)</translation>
    </message>
    <message>
        <source>Audio driver not installed</source>
        <translation>Audiotreiber nicht installiert</translation>
    </message>
    <message>
        <source>Oskel needs its virtual microphone and speaker. Installing asks for your password and restarts audio for a second.</source>
        <translation>Oskel braucht sein virtuelles Mikrofon und seinen virtuellen Lautsprecher. Die Installation fragt nach deinem Passwort und startet den Ton für eine Sekunde neu.</translation>
    </message>
    <message>
        <source>Install Driver</source>
        <translation>Treiber installieren</translation>
    </message>
    <message>
        <source>Build and install it from macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</source>
        <translation>Baue und installiere ihn aus macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Show Folder</source>
        <translation>Ordner zeigen</translation>
    </message>
    <message>
        <source>Stereo WAV, 48 kHz. Left channel: what they heard · Right channel: what you heard. Files live in ~/Music/Oskel Recordings.</source>
        <translation>Stereo-WAV, 48 kHz. Linker Kanal: was die anderen gehört haben · Rechter Kanal: was du gehört hast. Die Dateien liegen in ~/Music/Oskel Recordings.</translation>
    </message>
    <message>
        <source>No recordings yet</source>
        <translation>Noch keine Aufnahmen</translation>
    </message>
    <message>
        <source>While a call is live, press the record button next to Stop. Each call is saved as a WAV file.</source>
        <translation>Drücke während eines Live-Anrufs die Aufnahmetaste neben Stopp. Jeder Anruf wird als WAV-Datei gesichert.</translation>
    </message>
    <message>
        <source>OpenAI API key</source>
        <translation>OpenAI-API-Schlüssel</translation>
    </message>
    <message>
        <source>Get a key</source>
        <translation>Schlüssel holen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Sichern</translation>
    </message>
    <message>
        <source>Try it now: talk, and hear yourself in another language.</source>
        <translation>Probier es jetzt aus: Sprich und hör dich in einer anderen Sprache.</translation>
    </message>
    <message>
        <source>You speak the language on the left. Your speakers play it in the one on the right.</source>
        <translation>Du sprichst die Sprache links. Deine Lautsprecher geben sie in der Sprache rechts wieder.</translation>
    </message>
    <message>
        <source>Say something. You’ll hear the translation from your speakers.</source>
        <translation>Sag etwas. Du hörst die Übersetzung aus deinen Lautsprechern.</translation>
    </message>
    <message>
        <source>Oskel needs your microphone. Turn it on in System Settings, then press Start Translating.</source>
        <translation>Oskel braucht dein Mikrofon. Schalte es in den Systemeinstellungen ein und drücke dann „Übersetzung starten“.</translation>
    </message>
    <message>
        <source>Open System Settings</source>
        <translation>Systemeinstellungen öffnen</translation>
    </message>
    <message>
        <source>Echo cancellation is off for this microphone or speaker. Use headphones so the translation isn’t picked up again.</source>
        <translation>Die Echounterdrückung ist für dieses Mikrofon oder diesen Lautsprecher aus. Nutze Kopfhörer, damit die Übersetzung nicht erneut aufgenommen wird.</translation>
    </message>
    <message>
        <source>Get Started</source>
        <translation>Los geht’s</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Suche nach Updates …</translation>
    </message>
    <message>
        <source>Oskel %1 is ready to download</source>
        <translation>Oskel %1 kann geladen werden</translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation>Update wird geladen …</translation>
    </message>
    <message>
        <source>Verifying update…</source>
        <translation>Update wird geprüft …</translation>
    </message>
    <message>
        <source>Installing update…</source>
        <translation>Update wird installiert …</translation>
    </message>
    <message>
        <source>Restarting Oskel…</source>
        <translation>Oskel wird neu gestartet …</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Update fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>Checking the file's signature.</source>
        <translation>Die Signatur der Datei wird geprüft.</translation>
    </message>
    <message>
        <source>macOS will ask for your password.</source>
        <translation>macOS fragt nach deinem Passwort.</translation>
    </message>
    <message>
        <source>Oskel will reopen in a moment.</source>
        <translation>Oskel wird gleich wieder geöffnet.</translation>
    </message>
    <message>
        <source>Try Again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to start translating.</source>
        <translation>Füge deinen OpenAI-API-Schlüssel hinzu, um mit dem Übersetzen zu beginnen.</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to try Oskel.</source>
        <translation>Füge deinen OpenAI-API-Schlüssel hinzu, um Oskel auszuprobieren.</translation>
    </message>
</context>
</TS>
