<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>APIError</name>
    <message>
        <source>Server error (%1): %2</source>
        <translation>Serverfehler (%1): %2</translation>
    </message>
    <message>
        <source>Not signed in.</source>
        <translation>Nicht angemeldet.</translation>
    </message>
    <message>
        <source>Unexpected response from server.</source>
        <translation>Unerwartete Antwort vom Server.</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>The study service address cannot be used: %1</source>
        <translation>Die Adresse des Lerndienstes ist nicht verwendbar: %1</translation>
    </message>
    <message>
        <source>Show Card Now</source>
        <translation>Karte jetzt zeigen</translation>
    </message>
    <message>
        <source>Quick Note</source>
        <translation>Schnellnotiz</translation>
    </message>
    <message>
        <source>My Journals</source>
        <translation>Meine Journale</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausieren</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen…</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>Nicht angemeldet</translation>
    </message>
    <message>
        <source>Switch Account...</source>
        <translation>Konto wechseln…</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message numerus="yes">
        <source>TavloPopup: %n answer(s) waiting to be sent</source>
        <translation>
            <numerusform>TavloPopup: %n Antwort wartet auf das Senden</numerusform>
            <numerusform>TavloPopup: %n Antworten warten auf das Senden</numerusform>
        </translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
</context>
<context>
    <name>HttpTransport</name>
    <message>
        <source>The request timed out.</source>
        <translation>Zeitüberschreitung bei der Anfrage.</translation>
    </message>
    <message>
        <source>Could not connect to the server.</source>
        <translation>Keine Verbindung zum Server möglich.</translation>
    </message>
    <message>
        <source>The network connection was lost.</source>
        <translation>Die Netzwerkverbindung wurde unterbrochen.</translation>
    </message>
    <message>
        <source>A server with the specified hostname could not be found.</source>
        <translation>Es wurde kein Server mit diesem Hostnamen gefunden.</translation>
    </message>
    <message>
        <source>A TLS error has occurred and a secure connection to the server cannot be made.</source>
        <translation>Ein TLS-Fehler ist aufgetreten; eine sichere Verbindung zum Server ist nicht möglich.</translation>
    </message>
    <message>
        <source>The network connection appears to be offline.</source>
        <translation>Die Netzwerkverbindung scheint getrennt zu sein.</translation>
    </message>
    <message>
        <source>The server redirected the request to another address, which is not followed.</source>
        <translation>Der Server hat die Anfrage an eine andere Adresse umgeleitet; dieser Umleitung wird nicht gefolgt.</translation>
    </message>
    <message>
        <source>The server redirected the request too many times.</source>
        <translation>Der Server hat die Anfrage zu oft umgeleitet.</translation>
    </message>
    <message>
        <source>The request was cancelled.</source>
        <translation>Die Anfrage wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The request failed.</source>
        <translation>Die Anfrage ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid URL.</source>
        <translation>„%1“ ist keine gültige URL.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; uses plain http to a host other than this computer; only https is allowed there.</source>
        <translation>„%1“ verwendet unverschlüsseltes http zu einem anderen Rechner; dorthin ist nur https erlaubt.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an https nor a loopback http URL.</source>
        <translation>„%1“ ist weder eine https-URL noch eine http-URL auf diesen Rechner.</translation>
    </message>
    <message>
        <source>The operation couldn&apos;t be completed. (HTTP error -1.)</source>
        <translation>Der Vorgang konnte nicht abgeschlossen werden. (HTTP-Fehler -1.)</translation>
    </message>
    <message>
        <source>The service address is not allowed: %1</source>
        <translation>Die Adresse des Dienstes ist nicht zulässig: %1</translation>
    </message>
    <message>
        <source>The request address is not valid.</source>
        <translation>Die Adresse der Anfrage ist ungültig.</translation>
    </message>
    <message>
        <source>The response from the server is larger than 16 MiB and was not read.</source>
        <translation>Die Antwort des Servers ist größer als 16 MiB und wurde nicht gelesen.</translation>
    </message>
</context>
<context>
    <name>JournalEditScreen</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Edit Entry</source>
        <translation>Eintrag bearbeiten</translation>
    </message>
    <message>
        <source>Discard Changes</source>
        <translation>Änderungen verwerfen</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Tags</source>
        <translation>Tags</translation>
    </message>
    <message>
        <source>Tags (comma separated)</source>
        <translation>Tags (durch Kommas getrennt)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>AI Standardize</source>
        <translation>Mit KI aufbereiten</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Unsaved changes kept earlier could not be read.</source>
        <translation>Zuvor aufbewahrte, nicht gespeicherte Änderungen konnten nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Normalize failed: %1</source>
        <translation>Aufbereitung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Save failed: %1</source>
        <translation>Speichern fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Unsaved changes from %1 restored.</source>
        <translation>Nicht gespeicherte Änderungen vom %1 wiederhergestellt.</translation>
    </message>
</context>
<context>
    <name>JournalListView</name>
    <message>
        <source>My Journals</source>
        <translation>Meine Journale</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Search by title or tag...</source>
        <translation>Nach Titel oder Tag suchen…</translation>
    </message>
    <message>
        <source>Clear Search</source>
        <translation>Suche leeren</translation>
    </message>
    <message>
        <source>Clear search</source>
        <translation>Suche leeren</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Wird geladen…</translation>
    </message>
    <message>
        <source>Failed to load: %1</source>
        <translation>Laden fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Delete Entry</source>
        <translation>Eintrag löschen</translation>
    </message>
    <message>
        <source>Are you sure you want to delete &quot;%1&quot;? This cannot be undone.</source>
        <translation>Möchtest du „%1“ wirklich löschen? Das lässt sich nicht rückgängig machen.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Delete failed: %1</source>
        <translation>Löschen fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>No journal entries yet</source>
        <translation>Noch keine Journaleinträge</translation>
    </message>
    <message>
        <source>No matching entries</source>
        <translation>Keine passenden Einträge</translation>
    </message>
</context>
<context>
    <name>JournalRow</name>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
</context>
<context>
    <name>JournalText</name>
    <message>
        <source>Server error (%1)</source>
        <translation>Serverfehler (%1)</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Netzwerkfehler: %1</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>Nicht angemeldet</translation>
    </message>
    <message>
        <source>Unexpected response</source>
        <translation>Unerwartete Antwort</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>the study service answered %1</source>
        <translation>der Lerndienst antwortete mit %1</translation>
    </message>
    <message>
        <source>the study service answered %1: %2</source>
        <translation>der Lerndienst antwortete mit %1: %2</translation>
    </message>
    <message>
        <source>the network failed: %1</source>
        <translation>das Netzwerk ist ausgefallen: %1</translation>
    </message>
    <message>
        <source>you are not signed in</source>
        <translation>du bist nicht angemeldet</translation>
    </message>
    <message>
        <source>the study service sent an answer that could not be read</source>
        <translation>der Lerndienst hat eine unlesbare Antwort geschickt</translation>
    </message>
    <message>
        <source>could not connect to the server</source>
        <translation>keine Verbindung zum Server möglich</translation>
    </message>
    <message>
        <source>the server was not found</source>
        <translation>der Server wurde nicht gefunden</translation>
    </message>
    <message>
        <source>the study service did not answer in time</source>
        <translation>der Lerndienst hat nicht rechtzeitig geantwortet</translation>
    </message>
    <message>
        <source>the connection was lost</source>
        <translation>die Verbindung wurde unterbrochen</translation>
    </message>
    <message>
        <source>no secure connection could be made</source>
        <translation>es konnte keine sichere Verbindung hergestellt werden</translation>
    </message>
    <message>
        <source>the computer is offline</source>
        <translation>der Computer ist offline</translation>
    </message>
    <message>
        <source>the answer of the study service was too large</source>
        <translation>die Antwort des Lerndienstes war zu groß</translation>
    </message>
    <message>
        <source>the request failed</source>
        <translation>die Anfrage ist fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>JsonDecoding</name>
    <message>
        <source>The data couldn&apos;t be read because it is missing: expected %1 at %2 but found null.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie fehlen: %1 erwartet bei %2, aber null gefunden.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t in the correct format: expected %1 at %2 but found %3.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie nicht das richtige Format haben: %1 erwartet bei %2, aber %3 gefunden.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t valid JSON: %1 at byte %2.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie kein gültiges JSON sind: %1 bei Byte %2.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t valid JSON: %1.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie kein gültiges JSON sind: %1.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it is missing: no value for key &quot;%1&quot; at %2.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie fehlen: kein Wert für den Schlüssel „%1“ bei %2.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it is missing: key &quot;%1&quot; is null at %2.</source>
        <translation>Die Daten konnten nicht gelesen werden, weil sie fehlen: der Schlüssel „%1“ ist null bei %2.</translation>
    </message>
</context>
<context>
    <name>LoginView</name>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Server error (%1): %2</source>
        <translation>Serverfehler (%1): %2</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Netzwerkfehler: %1</translation>
    </message>
    <message>
        <source>Invalid email or password</source>
        <translation>E-Mail oder Passwort ist falsch</translation>
    </message>
    <message>
        <source>Unexpected response from server</source>
        <translation>Unerwartete Antwort vom Server</translation>
    </message>
    <message>
        <source>Connection failed: %1</source>
        <translation>Verbindung fehlgeschlagen: %1</translation>
    </message>
</context>
<context>
    <name>NoteEditorPane</name>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>Notiz</translation>
    </message>
</context>
<context>
    <name>PromptPanel</name>
    <message>
        <source>Read aloud</source>
        <translation>Vorlesen</translation>
    </message>
</context>
<context>
    <name>QuickNoteView</name>
    <message>
        <source>Quick Note</source>
        <translation>Schnellnotiz</translation>
    </message>
    <message>
        <source>AI Standardized</source>
        <translation>Mit KI aufbereitet</translation>
    </message>
    <message>
        <source>Return starts a new line; Ctrl+Return saves to the journal</source>
        <translation>Eingabetaste beginnt eine neue Zeile; Strg+Eingabe speichert im Journal</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close (Esc); the draft is kept</source>
        <translation>Schließen (Esc); der Entwurf bleibt erhalten</translation>
    </message>
    <message>
        <source>AI Standardize</source>
        <translation>Mit KI aufbereiten</translation>
    </message>
    <message>
        <source>Save to Journal</source>
        <translation>Im Journal speichern</translation>
    </message>
    <message>
        <source>Save to Journal (Ctrl+Return)</source>
        <translation>Im Journal speichern (Strg+Eingabe)</translation>
    </message>
    <message>
        <source>Saved to Journal</source>
        <translation>Im Journal gespeichert</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Popup Settings</source>
        <translation>Popup-Einstellungen</translation>
    </message>
    <message>
        <source>Minimum interval</source>
        <translation>Mindestabstand</translation>
    </message>
    <message>
        <source>Maximum interval</source>
        <translation>Höchstabstand</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message numerus="yes">
        <source>Minimum interval: %n min</source>
        <translation>
            <numerusform>Mindestabstand: %n Min.</numerusform>
            <numerusform>Mindestabstand: %n Min.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Maximum interval: %n min</source>
        <translation>
            <numerusform>Höchstabstand: %n Min.</numerusform>
            <numerusform>Höchstabstand: %n Min.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TypingView</name>
    <message>
        <source>Type your answer...</source>
        <translation>Gib deine Antwort ein…</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>Don&apos;t Know</source>
        <translation>Weiß ich nicht</translation>
    </message>
    <message>
        <source>Partial Match</source>
        <translation>Teilweise richtig</translation>
    </message>
    <message>
        <source>Your answer matches:</source>
        <translation>Deine Antwort passt zu:</translation>
    </message>
    <message>
        <source>Full answer:</source>
        <translation>Vollständige Antwort:</translation>
    </message>
    <message>
        <source>Accept as Correct</source>
        <translation>Als richtig werten</translation>
    </message>
    <message>
        <source>Mark Wrong</source>
        <translation>Als falsch werten</translation>
    </message>
    <message>
        <source>Incorrect</source>
        <translation>Falsch</translation>
    </message>
    <message>
        <source>Type to confirm:</source>
        <translation>Zur Bestätigung abtippen:</translation>
    </message>
    <message>
        <source>Type the answer...</source>
        <translation>Gib die Antwort ein…</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Correct!</source>
        <translation>Richtig!</translation>
    </message>
    <message>
        <source>Close!</source>
        <translation>Fast!</translation>
    </message>
</context>
</TS>
