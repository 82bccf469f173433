<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DesktopNotifications</name>
    <message>
        <source>Open Tornel</source>
        <translation>Tornel öffnen</translation>
    </message>
    <message>
        <source>Retry Sync</source>
        <translation>Erneut synchronisieren</translation>
    </message>
    <message>
        <source>Restart Sync Service</source>
        <translation>Synchronisierungsdienst neu starten</translation>
    </message>
</context>
<context>
    <name>IPCClient</name>
    <message>
        <source>Failed to create socket</source>
        <translation>Socket konnte nicht erstellt werden</translation>
    </message>
    <message>
        <source>Failed to connect to daemon at %1</source>
        <translation>Keine Verbindung zum Dienst unter %1</translation>
    </message>
    <message>
        <source>Failed to send request</source>
        <translation>Anfrage konnte nicht gesendet werden</translation>
    </message>
    <message>
        <source>No response from daemon</source>
        <translation>Keine Antwort vom Dienst</translation>
    </message>
    <message>
        <source>Invalid response format</source>
        <translation>Ungültiges Antwortformat</translation>
    </message>
    <message>
        <source>The daemon&apos;s socket at %1 belongs to another user</source>
        <translation>Der Socket des Dienstes unter %1 gehört einem anderen Benutzer</translation>
    </message>
</context>
<context>
    <name>LoginView</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Log In</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
    <message>
        <source>Server URL</source>
        <translation>Server-URL</translation>
    </message>
    <message>
        <source>Use %1 for local development.</source>
        <translation>Für die lokale Entwicklung: %1</translation>
    </message>
    <message>
        <source>Logging in...</source>
        <translation>Wird angemeldet …</translation>
    </message>
</context>
<context>
    <name>MenuBarView</name>
    <message>
        <source>The sync folder %1 cannot be opened</source>
        <translation>Der Synchronisierungsordner %1 kann nicht geöffnet werden</translation>
    </message>
</context>
<context>
    <name>NotificationPolicy</name>
    <message>
        <source>%1 or %2</source>
        <comment>the last of several places</comment>
        <translation>%1 oder %2</translation>
    </message>
    <message>
        <source>Sync error</source>
        <translation>Synchronisierungsfehler</translation>
    </message>
    <message>
        <source>Your files are not being synced.</source>
        <translation>Ihre Dateien werden nicht synchronisiert.</translation>
    </message>
    <message>
        <source>Syncing works again</source>
        <translation>Die Synchronisierung funktioniert wieder</translation>
    </message>
    <message>
        <source>Your files are up to date.</source>
        <translation>Ihre Dateien sind auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>The sync service keeps failing</source>
        <translation>Der Synchronisierungsdienst fällt immer wieder aus</translation>
    </message>
    <message>
        <source>on your PATH</source>
        <translation>in Ihrem PATH</translation>
    </message>
    <message>
        <source>Tornel cannot find its sync service</source>
        <translation>Tornel findet seinen Synchronisierungsdienst nicht</translation>
    </message>
    <message>
        <source>Your files are not being synced: there is no tornel-sync in %1. Install tornel-sync in one of these places, %2</source>
        <translation>Ihre Dateien werden nicht synchronisiert: tornel-sync fehlt in %1. Installieren Sie tornel-sync an einem dieser Orte, %2</translation>
    </message>
    <message>
        <source>Tornel cannot start its sync service</source>
        <translation>Tornel kann seinen Synchronisierungsdienst nicht starten</translation>
    </message>
    <message>
        <source>Your files are not being synced: %1 could not be run (%2). Check that it is a program for this computer and that you may run it (chmod +x), %3</source>
        <translation>Ihre Dateien werden nicht synchronisiert: %1 ließ sich nicht ausführen (%2). Prüfen Sie, ob es ein Programm für diesen Computer ist und Sie es ausführen dürfen (chmod +x), %3</translation>
    </message>
    <message>
        <source>Tornel is running</source>
        <translation>Tornel läuft</translation>
    </message>
    <message>
        <source>This desktop shows no tray icons, so Tornel has no icon. Start Tornel again to open its panel.</source>
        <translation>Diese Arbeitsumgebung zeigt keine Symbole im Infobereich, daher hat Tornel kein Symbol. Starten Sie Tornel erneut, um sein Fenster zu öffnen.</translation>
    </message>
    <message>
        <source>then choose Restart Sync Service here or in Tornel&apos;s panel.</source>
        <translation>wählen Sie dann hier oder in Tornels Fenster „Synchronisierungsdienst neu starten“.</translation>
    </message>
    <message>
        <source>Its last output: %1</source>
        <translation>Seine letzte Ausgabe: %1</translation>
    </message>
    <message>
        <source>tornel-sync, the service that syncs your files, failed several times in a minute, so Tornel stopped restarting it.</source>
        <translation>tornel-sync, der Dienst, der Ihre Dateien synchronisiert, ist binnen einer Minute mehrmals ausgefallen; Tornel startet ihn deshalb nicht mehr von selbst neu.</translation>
    </message>
    <message>
        <source>The sync service has stopped</source>
        <translation>Der Synchronisierungsdienst hat sich beendet</translation>
    </message>
    <message>
        <source>tornel-sync, the service that syncs your files, ended by itself, so your files are not being synced.</source>
        <translation>tornel-sync, der Dienst, der Ihre Dateien synchronisiert, hat sich von selbst beendet; Ihre Dateien werden nicht synchronisiert.</translation>
    </message>
    <message>
        <source>The service&apos;s log is in %1.</source>
        <translation>Das Protokoll des Dienstes liegt in %1.</translation>
    </message>
</context>
<context>
    <name>PanelCommand</name>
    <message>
        <source>Pause Syncing</source>
        <translation>Synchronisierung pausieren</translation>
    </message>
    <message>
        <source>Resume Syncing</source>
        <translation>Synchronisierung fortsetzen</translation>
    </message>
    <message>
        <source>Retry Sync</source>
        <translation>Erneut synchronisieren</translation>
    </message>
    <message>
        <source>Open Sync Folder</source>
        <translation>Sync-Ordner öffnen</translation>
    </message>
    <message>
        <source>Log Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Log In to Tornel</source>
        <translation>Bei Tornel anmelden</translation>
    </message>
    <message>
        <source>Quit Tornel</source>
        <translation>Tornel beenden</translation>
    </message>
    <message>
        <source>Restart Sync Service</source>
        <translation>Synchronisierungsdienst neu starten</translation>
    </message>
    <message>
        <source>Pause for 1 Hour</source>
        <translation>Für 1 Stunde pausieren</translation>
    </message>
    <message>
        <source>Pause Until Tomorrow</source>
        <translation>Bis morgen pausieren</translation>
    </message>
</context>
<context>
    <name>RemoteCommand</name>
    <message>
        <source>Prints the state of syncing; exits with 0 when up to date or syncing, 1 when paused, logged out or failing, 2 when neither Tornel nor its sync service answers.</source>
        <translation>Gibt den Stand der Synchronisierung aus; endet mit 0, wenn alles aktuell ist oder synchronisiert wird, mit 1, wenn sie pausiert, abgemeldet oder gestört ist, mit 2, wenn weder Tornel noch sein Synchronisierungsdienst antwortet.</translation>
    </message>
    <message>
        <source>With --status: prints the sync service&apos;s status record as JSON.</source>
        <translation>Mit --status: gibt den Statusdatensatz des Synchronisierungsdienstes als JSON aus.</translation>
    </message>
    <message>
        <source>Resumes syncing.</source>
        <translation>Setzt die Synchronisierung fort.</translation>
    </message>
    <message>
        <source>Opens the panel of the running Tornel, or starts Tornel.</source>
        <translation>Öffnet das Fenster des laufenden Tornel oder startet Tornel.</translation>
    </message>
    <message>
        <source>Quits the running Tornel, which stops its sync service.</source>
        <translation>Beendet das laufende Tornel, das dabei seinen Synchronisierungsdienst anhält.</translation>
    </message>
    <message>
        <source>Give one command at a time, not %1.</source>
        <translation>Geben Sie nur einen Befehl auf einmal an, nicht %1.</translation>
    </message>
    <message>
        <source>--json goes with --status only.</source>
        <translation>--json gibt es nur zusammen mit --status.</translation>
    </message>
    <message>
        <source>Tornel is running but does not answer.</source>
        <translation>Tornel läuft, antwortet aber nicht.</translation>
    </message>
    <message>
        <source>Tornel is not running.</source>
        <translation>Tornel läuft nicht.</translation>
    </message>
    <message>
        <source>Tornel answered something unexpected.</source>
        <translation>Tornel hat unerwartet geantwortet.</translation>
    </message>
    <message>
        <source>Tornel was asked to quit but is still running.</source>
        <translation>Tornel wurde zum Beenden aufgefordert, läuft aber noch.</translation>
    </message>
    <message>
        <source>Neither Tornel nor its sync service answers: %1</source>
        <translation>Weder Tornel noch sein Synchronisierungsdienst antwortet: %1</translation>
    </message>
    <message>
        <source>The sync service&apos;s status is unreadable.</source>
        <translation>Der Status des Synchronisierungsdienstes ist unlesbar.</translation>
    </message>
    <message>
        <source>Unknown request: %1</source>
        <translation>Unbekannte Anfrage: %1</translation>
    </message>
    <message>
        <source>Pauses syncing; for DURATION (30m, 1h, 2h30m, until-tomorrow) when given after it.</source>
        <translation>Pausiert die Synchronisierung; für DAUER (30m, 1h, 2h30m, until-tomorrow), wenn sie danach angegeben ist.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is no duration: give 30m, 1h, 2h30m or until-tomorrow.</source>
        <translation>„%1“ ist keine Dauer: Geben Sie 30m, 1h, 2h30m oder until-tomorrow an.</translation>
    </message>
    <message>
        <source>Tornel is not running, and only it can end a pause: start Tornel, or pause without a duration.</source>
        <translation>Tornel läuft nicht, und nur Tornel kann eine Pause beenden: Starten Sie Tornel, oder pausieren Sie ohne Dauer.</translation>
    </message>
</context>
<context>
    <name>StartAtLogin</name>
    <message>
        <source>Cannot remove %1: %2</source>
        <translation>%1 kann nicht entfernt werden: %2</translation>
    </message>
    <message>
        <source>Cannot create the folder %1</source>
        <translation>Der Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Cannot replace the link %1</source>
        <translation>Die Verknüpfung %1 kann nicht ersetzt werden</translation>
    </message>
    <message>
        <source>The folder Tornel runs from has a line break or another control character in its name, which an autostart entry cannot carry safely</source>
        <translation>Der Ordner, aus dem Tornel läuft, enthält einen Zeilenumbruch oder ein anderes Steuerzeichen im Namen, das ein Autostart-Eintrag nicht sicher aufnehmen kann</translation>
    </message>
</context>
<context>
    <name>StatusLook</name>
    <message>
        <source>Tornel — Syncing</source>
        <translation>Tornel — Synchronisierung läuft</translation>
    </message>
    <message>
        <source>Tornel — Up to date</source>
        <translation>Tornel — Alles aktuell</translation>
    </message>
    <message>
        <source>Tornel — Paused</source>
        <translation>Tornel — Pausiert</translation>
    </message>
    <message>
        <source>Tornel — Error</source>
        <translation>Tornel — Fehler</translation>
    </message>
    <message>
        <source>Tornel — Not logged in</source>
        <translation>Tornel — Nicht angemeldet</translation>
    </message>
</context>
<context>
    <name>StatusSection</name>
    <message numerus="yes">
        <source>%1 upload(s) pending</source>
        <translation>
            <numerusform>%1 Upload ausstehend</numerusform>
            <numerusform>%1 Uploads ausstehend</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 download(s) pending</source>
        <translation>
            <numerusform>%1 Download ausstehend</numerusform>
            <numerusform>%1 Downloads ausstehend</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncState</name>
    <message numerus="yes">
        <source>Syncing %1 file(s)...</source>
        <comment>%1 is the number of files</comment>
        <translation>
            <numerusform>%1 Datei wird synchronisiert …</numerusform>
            <numerusform>%1 Dateien werden synchronisiert …</numerusform>
        </translation>
    </message>
    <message>
        <source>Daemon not responding: %1</source>
        <translation>Der Dienst antwortet nicht: %1</translation>
    </message>
    <message>
        <source>Syncing...</source>
        <translation>Wird synchronisiert …</translation>
    </message>
    <message>
        <source>All files up to date</source>
        <translation>Alle Dateien aktuell</translation>
    </message>
    <message>
        <source>Sync paused</source>
        <translation>Synchronisierung pausiert</translation>
    </message>
    <message>
        <source>Sync error</source>
        <translation>Synchronisierungsfehler</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>Nicht angemeldet</translation>
    </message>
    <message>
        <source>Last synced %1</source>
        <translation>Zuletzt synchronisiert %1</translation>
    </message>
    <message>
        <source>Could not log out: %1</source>
        <translation>Abmelden fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>unreadable status answer</source>
        <translation>unlesbare Statusantwort</translation>
    </message>
</context>
<context>
    <name>TimedPause</name>
    <message>
        <source>Resumes at %1</source>
        <translation>Wird um %1 fortgesetzt</translation>
    </message>
</context>
<context>
    <name>TornelApp</name>
    <message>
        <source>Shows the state of the Tornel sync service in the system tray and keeps its daemon running.</source>
        <translation>Zeigt den Zustand des Tornel-Synchronisierungsdienstes im Infobereich an und hält dessen Daemon in Betrieb.</translation>
    </message>
    <message>
        <source>Displays this help.</source>
        <translation>Zeigt diese Hilfe an.</translation>
    </message>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>Unerwartetes Argument „%1“.</translation>
    </message>
</context>
<context>
    <name>TrayMenu</name>
    <message>
        <source>Open Tornel</source>
        <translation>Tornel öffnen</translation>
    </message>
    <message>
        <source>Start at Login</source>
        <translation>Bei Anmeldung starten</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>Protokoll anzeigen</translation>
    </message>
    <message>
        <source>No program opened %1</source>
        <translation>Kein Programm hat %1 geöffnet</translation>
    </message>
</context>
</TS>
