<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>APIError</name>
    <message>
        <source>Server error (%1): %2</source>
        <translation>Error del servidor (%1): %2</translation>
    </message>
    <message>
        <source>Not signed in.</source>
        <translation>No has iniciado sesión.</translation>
    </message>
    <message>
        <source>Unexpected response from server.</source>
        <translation>Respuesta inesperada del servidor.</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>The study service address cannot be used: %1</source>
        <translation>No se puede usar la dirección del servicio de estudio: %1</translation>
    </message>
    <message>
        <source>Show Card Now</source>
        <translation>Mostrar tarjeta ahora</translation>
    </message>
    <message>
        <source>Quick Note</source>
        <translation>Nota rápida</translation>
    </message>
    <message>
        <source>My Journals</source>
        <translation>Mis diarios</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausar</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Ajustes…</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>Sin sesión iniciada</translation>
    </message>
    <message>
        <source>Switch Account...</source>
        <translation>Cambiar de cuenta…</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Salir</translation>
    </message>
    <message numerus="yes">
        <source>TavloPopup: %n answer(s) waiting to be sent</source>
        <translation>
            <numerusform>TavloPopup: %n respuesta pendiente de envío</numerusform>
            <numerusform>TavloPopup: %n respuestas pendientes de envío</numerusform>
        </translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reanudar</translation>
    </message>
</context>
<context>
    <name>HttpTransport</name>
    <message>
        <source>The request timed out.</source>
        <translation>Se agotó el tiempo de espera de la solicitud.</translation>
    </message>
    <message>
        <source>Could not connect to the server.</source>
        <translation>No se pudo conectar con el servidor.</translation>
    </message>
    <message>
        <source>The network connection was lost.</source>
        <translation>Se perdió la conexión de red.</translation>
    </message>
    <message>
        <source>A server with the specified hostname could not be found.</source>
        <translation>No se encontró ningún servidor con ese nombre de host.</translation>
    </message>
    <message>
        <source>A TLS error has occurred and a secure connection to the server cannot be made.</source>
        <translation>Se produjo un error de TLS y no se puede establecer una conexión segura con el servidor.</translation>
    </message>
    <message>
        <source>The network connection appears to be offline.</source>
        <translation>Parece que no hay conexión de red.</translation>
    </message>
    <message>
        <source>The server redirected the request to another address, which is not followed.</source>
        <translation>El servidor redirigió la solicitud a otra dirección, y esa redirección no se sigue.</translation>
    </message>
    <message>
        <source>The server redirected the request too many times.</source>
        <translation>El servidor redirigió la solicitud demasiadas veces.</translation>
    </message>
    <message>
        <source>The request was cancelled.</source>
        <translation>Se canceló la solicitud.</translation>
    </message>
    <message>
        <source>The request failed.</source>
        <translation>La solicitud falló.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid URL.</source>
        <translation>«%1» no es una URL válida.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; uses plain http to a host other than this computer; only https is allowed there.</source>
        <translation>«%1» usa http sin cifrar hacia un host que no es este equipo; ahí solo se permite https.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an https nor a loopback http URL.</source>
        <translation>«%1» no es ni una URL https ni una URL http local.</translation>
    </message>
    <message>
        <source>The operation couldn&apos;t be completed. (HTTP error -1.)</source>
        <translation>No se pudo completar la operación. (Error HTTP -1.)</translation>
    </message>
    <message>
        <source>The service address is not allowed: %1</source>
        <translation>La dirección del servicio no está permitida: %1</translation>
    </message>
    <message>
        <source>The request address is not valid.</source>
        <translation>La dirección de la solicitud no es válida.</translation>
    </message>
    <message>
        <source>The response from the server is larger than 16 MiB and was not read.</source>
        <translation>La respuesta del servidor ocupa más de 16 MiB y no se leyó.</translation>
    </message>
</context>
<context>
    <name>JournalEditScreen</name>
    <message>
        <source>Back</source>
        <translation>Atrás</translation>
    </message>
    <message>
        <source>Edit Entry</source>
        <translation>Editar entrada</translation>
    </message>
    <message>
        <source>Discard Changes</source>
        <translation>Descartar cambios</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Título</translation>
    </message>
    <message>
        <source>Tags</source>
        <translation>Etiquetas</translation>
    </message>
    <message>
        <source>Tags (comma separated)</source>
        <translation>Etiquetas (separadas por comas)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>AI Standardize</source>
        <translation>Normalizar con IA</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Unsaved changes kept earlier could not be read.</source>
        <translation>No se pudieron leer los cambios sin guardar conservados anteriormente.</translation>
    </message>
    <message>
        <source>Normalize failed: %1</source>
        <translation>Error al normalizar: %1</translation>
    </message>
    <message>
        <source>Save failed: %1</source>
        <translation>Error al guardar: %1</translation>
    </message>
    <message>
        <source>Unsaved changes from %1 restored.</source>
        <translation>Se restauraron los cambios sin guardar del %1.</translation>
    </message>
</context>
<context>
    <name>JournalListView</name>
    <message>
        <source>My Journals</source>
        <translation>Mis diarios</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Buscar</translation>
    </message>
    <message>
        <source>Search by title or tag...</source>
        <translation>Buscar por título o etiqueta…</translation>
    </message>
    <message>
        <source>Clear Search</source>
        <translation>Borrar búsqueda</translation>
    </message>
    <message>
        <source>Clear search</source>
        <translation>Borrar búsqueda</translation>
    </message>
    <message>
        <source>Loading...</source>
        <translation>Cargando…</translation>
    </message>
    <message>
        <source>Failed to load: %1</source>
        <translation>No se pudo cargar: %1</translation>
    </message>
    <message>
        <source>Delete Entry</source>
        <translation>Eliminar entrada</translation>
    </message>
    <message>
        <source>Are you sure you want to delete &quot;%1&quot;? This cannot be undone.</source>
        <translation>¿Seguro que quieres eliminar «%1»? No se puede deshacer.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Eliminar</translation>
    </message>
    <message>
        <source>Delete failed: %1</source>
        <translation>Error al eliminar: %1</translation>
    </message>
    <message>
        <source>No journal entries yet</source>
        <translation>Aún no hay entradas en el diario</translation>
    </message>
    <message>
        <source>No matching entries</source>
        <translation>No hay entradas que coincidan</translation>
    </message>
</context>
<context>
    <name>JournalRow</name>
    <message>
        <source>Edit</source>
        <translation>Editar</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Eliminar</translation>
    </message>
</context>
<context>
    <name>JournalText</name>
    <message>
        <source>Server error (%1)</source>
        <translation>Error del servidor (%1)</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Error de red: %1</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>Sin sesión iniciada</translation>
    </message>
    <message>
        <source>Unexpected response</source>
        <translation>Respuesta inesperada</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Error: %1</translation>
    </message>
    <message>
        <source>the study service answered %1</source>
        <translation>el servicio de estudio respondió %1</translation>
    </message>
    <message>
        <source>the study service answered %1: %2</source>
        <translation>el servicio de estudio respondió %1: %2</translation>
    </message>
    <message>
        <source>the network failed: %1</source>
        <translation>falló la red: %1</translation>
    </message>
    <message>
        <source>you are not signed in</source>
        <translation>no has iniciado sesión</translation>
    </message>
    <message>
        <source>the study service sent an answer that could not be read</source>
        <translation>el servicio de estudio envió una respuesta que no se pudo leer</translation>
    </message>
    <message>
        <source>could not connect to the server</source>
        <translation>no se pudo conectar con el servidor</translation>
    </message>
    <message>
        <source>the server was not found</source>
        <translation>no se encontró el servidor</translation>
    </message>
    <message>
        <source>the study service did not answer in time</source>
        <translation>el servicio de estudio no respondió a tiempo</translation>
    </message>
    <message>
        <source>the connection was lost</source>
        <translation>se perdió la conexión</translation>
    </message>
    <message>
        <source>no secure connection could be made</source>
        <translation>no se pudo establecer una conexión segura</translation>
    </message>
    <message>
        <source>the computer is offline</source>
        <translation>el equipo no tiene conexión</translation>
    </message>
    <message>
        <source>the answer of the study service was too large</source>
        <translation>la respuesta del servicio de estudio era demasiado grande</translation>
    </message>
    <message>
        <source>the request failed</source>
        <translation>la solicitud falló</translation>
    </message>
</context>
<context>
    <name>JsonDecoding</name>
    <message>
        <source>The data couldn&apos;t be read because it is missing: expected %1 at %2 but found null.</source>
        <translation>No se pudieron leer los datos porque faltan: se esperaba %1 en %2, pero se encontró null.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t in the correct format: expected %1 at %2 but found %3.</source>
        <translation>No se pudieron leer los datos porque no tienen el formato correcto: se esperaba %1 en %2, pero se encontró %3.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t valid JSON: %1 at byte %2.</source>
        <translation>No se pudieron leer los datos porque no son JSON válido: %1 en el byte %2.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t valid JSON: %1.</source>
        <translation>No se pudieron leer los datos porque no son JSON válido: %1.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it is missing: no value for key &quot;%1&quot; at %2.</source>
        <translation>No se pudieron leer los datos porque faltan: no hay valor para la clave «%1» en %2.</translation>
    </message>
    <message>
        <source>The data couldn&apos;t be read because it is missing: key &quot;%1&quot; is null at %2.</source>
        <translation>No se pudieron leer los datos porque faltan: la clave «%1» es null en %2.</translation>
    </message>
</context>
<context>
    <name>LoginView</name>
    <message>
        <source>Email</source>
        <translation>Correo electrónico</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message>
        <source>Server error (%1): %2</source>
        <translation>Error del servidor (%1): %2</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Error de red: %1</translation>
    </message>
    <message>
        <source>Invalid email or password</source>
        <translation>Correo electrónico o contraseña incorrectos</translation>
    </message>
    <message>
        <source>Unexpected response from server</source>
        <translation>Respuesta inesperada del servidor</translation>
    </message>
    <message>
        <source>Connection failed: %1</source>
        <translation>Error de conexión: %1</translation>
    </message>
</context>
<context>
    <name>NoteEditorPane</name>
    <message>
        <source>Edit</source>
        <translation>Editar</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vista previa</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>Nota</translation>
    </message>
</context>
<context>
    <name>PromptPanel</name>
    <message>
        <source>Read aloud</source>
        <translation>Leer en voz alta</translation>
    </message>
</context>
<context>
    <name>QuickNoteView</name>
    <message>
        <source>Quick Note</source>
        <translation>Nota rápida</translation>
    </message>
    <message>
        <source>AI Standardized</source>
        <translation>Normalizado con IA</translation>
    </message>
    <message>
        <source>Return starts a new line; Ctrl+Return saves to the journal</source>
        <translation>Intro empieza una línea nueva; Ctrl+Intro guarda en el diario</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Close (Esc); the draft is kept</source>
        <translation>Cerrar (Esc); el borrador se conserva</translation>
    </message>
    <message>
        <source>AI Standardize</source>
        <translation>Normalizar con IA</translation>
    </message>
    <message>
        <source>Save to Journal</source>
        <translation>Guardar en el diario</translation>
    </message>
    <message>
        <source>Save to Journal (Ctrl+Return)</source>
        <translation>Guardar en el diario (Ctrl+Intro)</translation>
    </message>
    <message>
        <source>Saved to Journal</source>
        <translation>Guardado en el diario</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Popup Settings</source>
        <translation>Ajustes de la ventana emergente</translation>
    </message>
    <message>
        <source>Minimum interval</source>
        <translation>Intervalo mínimo</translation>
    </message>
    <message>
        <source>Maximum interval</source>
        <translation>Intervalo máximo</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message numerus="yes">
        <source>Minimum interval: %n min</source>
        <translation>
            <numerusform>Intervalo mínimo: %n min</numerusform>
            <numerusform>Intervalo mínimo: %n min</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Maximum interval: %n min</source>
        <translation>
            <numerusform>Intervalo máximo: %n min</numerusform>
            <numerusform>Intervalo máximo: %n min</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TypingView</name>
    <message>
        <source>Type your answer...</source>
        <translation>Escribe tu respuesta…</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Comprobar</translation>
    </message>
    <message>
        <source>Don&apos;t Know</source>
        <translation>No lo sé</translation>
    </message>
    <message>
        <source>Partial Match</source>
        <translation>Respuesta parcial</translation>
    </message>
    <message>
        <source>Your answer matches:</source>
        <translation>Tu respuesta coincide con:</translation>
    </message>
    <message>
        <source>Full answer:</source>
        <translation>Respuesta completa:</translation>
    </message>
    <message>
        <source>Accept as Correct</source>
        <translation>Aceptar como correcta</translation>
    </message>
    <message>
        <source>Mark Wrong</source>
        <translation>Marcar como incorrecta</translation>
    </message>
    <message>
        <source>Incorrect</source>
        <translation>Incorrecto</translation>
    </message>
    <message>
        <source>Type to confirm:</source>
        <translation>Escríbela para confirmar:</translation>
    </message>
    <message>
        <source>Type the answer...</source>
        <translation>Escribe la respuesta…</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirmar</translation>
    </message>
    <message>
        <source>Correct!</source>
        <translation>¡Correcto!</translation>
    </message>
    <message>
        <source>Close!</source>
        <translation>¡Casi!</translation>
    </message>
</context>
</TS>
