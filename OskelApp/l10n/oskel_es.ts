<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="en">
<context>
    <name>Oskel</name>
    <message>
        <source>About Oskel</source>
        <translation>Acerca de Oskel</translation>
    </message>
    <message>
        <source>Hide Oskel</source>
        <translation>Ocultar Oskel</translation>
    </message>
    <message>
        <source>Hide Others</source>
        <translation>Ocultar otros</translation>
    </message>
    <message>
        <source>Show All</source>
        <translation>Mostrar todo</translation>
    </message>
    <message>
        <source>Quit Oskel</source>
        <translation>Salir de Oskel</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Archivo</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Buscar actualizaciones…</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Edición</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Deshacer</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Rehacer</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cortar</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copiar</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Pegar</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Seleccionar todo</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Llamada</translation>
    </message>
    <message>
        <source>Start Translating</source>
        <translation>Empezar a traducir</translation>
    </message>
    <message>
        <source>Stop Translating</source>
        <translation>Dejar de traducir</translation>
    </message>
    <message>
        <source>Record Call</source>
        <translation>Grabar llamada</translation>
    </message>
    <message>
        <source>Stop Recording</source>
        <translation>Detener grabación</translation>
    </message>
    <message>
        <source>Recordings</source>
        <translation>Grabaciones</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Ventana</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimizar</translation>
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
        <translation>Te damos la bienvenida a Oskel</translation>
    </message>
    <message>
        <source>Updating Oskel</source>
        <translation>Actualizando Oskel</translation>
    </message>
    <message>
        <source>LIVE</source>
        <translation>EN VIVO</translation>
    </message>
    <message>
        <source>DIRECT</source>
        <translation>DIRECTO</translation>
    </message>
    <message>
        <source>Oskel %1 is available</source>
        <translation>Oskel %1 está disponible</translation>
    </message>
    <message>
        <source>Oskel %1 is available — finish your call to install</source>
        <translation>Oskel %1 está disponible: termina la llamada para instalarlo</translation>
    </message>
    <message>
        <source>Downloading Oskel %1…</source>
        <translation>Descargando Oskel %1…</translation>
    </message>
    <message>
        <source>Installing Oskel %1…</source>
        <translation>Instalando Oskel %1…</translation>
    </message>
    <message>
        <source>Oskel %1 — update failed</source>
        <translation>Oskel %1: la actualización ha fallado</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Download and install Oskel %1</source>
        <translation>Descargar e instalar Oskel %1</translation>
    </message>
    <message>
        <source>Live interpreter for your calls</source>
        <translation>Intérprete en directo para tus llamadas</translation>
    </message>
    <message>
        <source>Recordings (%1)</source>
        <translation>Grabaciones (%1)</translation>
    </message>
    <message>
        <source>Recorded calls</source>
        <translation>Llamadas grabadas</translation>
    </message>
    <message>
        <source>API key</source>
        <translation>Clave de API</translation>
    </message>
    <message>
        <source>Change the OpenAI API key</source>
        <translation>Cambiar la clave de API de OpenAI</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Apagado</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>Iniciando</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Conectando</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>En vivo</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Reconectando</translation>
    </message>
    <message>
        <source>Direct</source>
        <translation>Directo</translation>
    </message>
    <message>
        <source>Stopping</source>
        <translation>Deteniendo</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>In person</source>
        <translation>En persona</translation>
    </message>
    <message>
        <source>Put the Mac between you. What each person says plays from the speaker in the other language.</source>
        <translation>Poned el Mac entre los dos. Lo que dice cada persona suena por el altavoz en el otro idioma.</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message>
        <source>Swap languages</source>
        <translation>Intercambiar idiomas</translation>
    </message>
    <message>
        <source>Speech is detected automatically — choose the language each side hears.</source>
        <translation>El habla se detecta automáticamente: elige el idioma que oye cada lado.</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Micrófono</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Altavoz</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Predeterminado del sistema</translation>
    </message>
    <message>
        <source>System default · %1</source>
        <translation>Predeterminado del sistema · %1</translation>
    </message>
    <message>
        <source>Who’s speaking</source>
        <translation>¿Quién habla?</translation>
    </message>
    <message>
        <source>Tap whoever is about to speak, or press Space.</source>
        <translation>Toca a quien vaya a hablar o pulsa Espacio.</translation>
    </message>
    <message>
        <source>Captions</source>
        <translation>Subtítulos</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Borrar</translation>
    </message>
    <message>
        <source>Nothing yet</source>
        <translation>Nada todavía</translation>
    </message>
    <message>
        <source>Them</source>
        <translation>Ellos</translation>
    </message>
    <message>
        <source>You</source>
        <translation>Tú</translation>
    </message>
    <message>
        <source>Your input level</source>
        <translation>Tu nivel de entrada</translation>
    </message>
    <message>
        <source>Their input level</source>
        <translation>Su nivel de entrada</translation>
    </message>
    <message>
        <source>Record this call to a file</source>
        <translation>Grabar esta llamada en un archivo</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Detener la grabación</translation>
    </message>
    <message>
        <source>Saved recording · %1</source>
        <translation>Grabación guardada · %1</translation>
    </message>
    <message>
        <source>Reveal in Finder</source>
        <translation>Mostrar en la carpeta</translation>
    </message>
    <message>
        <source>Switching to your new settings…</source>
        <translation>Aplicando tus nuevos ajustes…</translation>
    </message>
    <message>
        <source>Then pick **Oskel Microphone** and **Oskel Speaker** as the audio devices in Zoom.</source>
        <translation>Después elige **Oskel Microphone** y **Oskel Speaker** como dispositivos de audio en Zoom.</translation>
    </message>
    <message>
        <source>In Zoom → Audio: Microphone **Oskel Microphone**, Speaker **Oskel Speaker**</source>
        <translation>En Zoom → Audio: micrófono **Oskel Microphone**, altavoz **Oskel Speaker**</translation>
    </message>
    <message>
        <source>Voice-over</source>
        <translation>Voz original</translation>
    </message>
    <message>
        <source>Keep the original voice audible under the translation</source>
        <translation>Mantener audible la voz original bajo la traducción</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Duck while the translation plays</source>
        <translation>Bajar mientras suena la traducción</translation>
    </message>
    <message>
        <source>Original</source>
        <translation>Original</translation>
    </message>
    <message>
        <source>Ducked</source>
        <translation>Atenuada</translation>
    </message>
    <message>
        <source>Echo cancellation</source>
        <translation>Cancelación de eco</translation>
    </message>
    <message>
        <source>Stops your speakers' output from being translated back</source>
        <translation>Evita que se vuelva a traducir lo que suena por tus altavoces</translation>
    </message>
    <message>
        <source>Room microphone</source>
        <translation>Micrófono de sala</translation>
    </message>
    <message>
        <source>Using a laptop or conference mic instead of a headset</source>
        <translation>Uso un micrófono de portátil o de conferencia en vez de auriculares</translation>
    </message>
    <message>
        <source>Group call</source>
        <translation>Llamada en grupo</translation>
    </message>
    <message>
        <source>Turn this on when more than one person is on the call</source>
        <translation>Actívalo cuando haya más de una persona en la llamada</translation>
    </message>
    <message>
        <source>Live transcript of both sides (billed by OpenAI)</source>
        <translation>Transcripción en directo de ambos lados (facturada por OpenAI)</translation>
    </message>
    <message>
        <source>Live transcript of both sides (included)</source>
        <translation>Transcripción en directo de ambos lados (incluida)</translation>
    </message>
    <message>
        <source>Audio driver not installed</source>
        <translation>El controlador de audio no está instalado</translation>
    </message>
    <message>
        <source>Oskel needs its virtual microphone and speaker. Installing asks for your password and restarts audio for a second.</source>
        <translation>Oskel necesita su micrófono y su altavoz virtuales. La instalación pide tu contraseña y reinicia el audio durante un segundo.</translation>
    </message>
    <message>
        <source>Install Driver</source>
        <translation>Instalar controlador</translation>
    </message>
    <message>
        <source>Build and install it from macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</source>
        <translation>Compílalo e instálalo desde macos_audio/Driver (`./build.sh &amp;&amp; sudo ./install.sh`).</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Atrás</translation>
    </message>
    <message>
        <source>Show Folder</source>
        <translation>Mostrar carpeta</translation>
    </message>
    <message>
        <source>Stereo WAV, 48 kHz. Left channel: what they heard · Right channel: what you heard. Files live in ~/Music/Oskel Recordings.</source>
        <translation>WAV estéreo, 48 kHz. Canal izquierdo: lo que oyeron ellos · Canal derecho: lo que oíste tú. Los archivos están en ~/Music/Oskel Recordings.</translation>
    </message>
    <message>
        <source>No recordings yet</source>
        <translation>Aún no hay grabaciones</translation>
    </message>
    <message>
        <source>While a call is live, press the record button next to Stop. Each call is saved as a WAV file.</source>
        <translation>Durante una llamada en vivo, pulsa el botón de grabar junto a Detener. Cada llamada se guarda como archivo WAV.</translation>
    </message>
    <message>
        <source>OpenAI API key</source>
        <translation>Clave de API de OpenAI</translation>
    </message>
    <message>
        <source>Get a key</source>
        <translation>Obtener una clave</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Try it now: talk, and hear yourself in another language.</source>
        <translation>Pruébalo ahora: habla y escúchate en otro idioma.</translation>
    </message>
    <message>
        <source>You speak the language on the left. Your speakers play it in the one on the right.</source>
        <translation>Tú hablas el idioma de la izquierda. Tus altavoces lo reproducen en el de la derecha.</translation>
    </message>
    <message>
        <source>Say something. You’ll hear the translation from your speakers.</source>
        <translation>Di algo. Oirás la traducción por tus altavoces.</translation>
    </message>
    <message>
        <source>Oskel needs your microphone. Turn it on in System Settings, then press Start Translating.</source>
        <translation>Oskel necesita tu micrófono. Actívalo en la configuración del sistema y pulsa Empezar a traducir.</translation>
    </message>
    <message>
        <source>Open System Settings</source>
        <translation>Abrir la configuración del sistema</translation>
    </message>
    <message>
        <source>Echo cancellation is off for this microphone or speaker. Use headphones so the translation isn’t picked up again.</source>
        <translation>La cancelación de eco está desactivada para este micrófono o altavoz. Usa auriculares para que la traducción no se vuelva a captar.</translation>
    </message>
    <message>
        <source>Get Started</source>
        <translation>Empezar</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Buscando actualizaciones…</translation>
    </message>
    <message>
        <source>Oskel %1 is ready to download</source>
        <translation>Oskel %1 está listo para descargar</translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation>Descargando la actualización…</translation>
    </message>
    <message>
        <source>Verifying update…</source>
        <translation>Verificando la actualización…</translation>
    </message>
    <message>
        <source>Installing update…</source>
        <translation>Instalando la actualización…</translation>
    </message>
    <message>
        <source>Restarting Oskel…</source>
        <translation>Reiniciando Oskel…</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>La actualización ha fallado</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 de %2</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>Checking the file's signature.</source>
        <translation>Comprobando la firma del archivo.</translation>
    </message>
    <message>
        <source>macOS will ask for your password.</source>
        <translation>macOS te pedirá la contraseña.</translation>
    </message>
    <message>
        <source>Oskel will reopen in a moment.</source>
        <translation>Oskel se volverá a abrir en un momento.</translation>
    </message>
    <message>
        <source>Try Again</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to start translating.</source>
        <translation>Añade tu clave de API de OpenAI para empezar a traducir.</translation>
    </message>
    <message>
        <source>Add your OpenAI API key to try Oskel.</source>
        <translation>Añade tu clave de API de OpenAI para probar Oskel.</translation>
    </message>
</context>
</TS>
