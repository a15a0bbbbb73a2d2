#include "platform/posix/console_texts.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace platform {

namespace {

constexpr ConsoleTexts kTexts[kConsoleLanguageCount] = {
    {"en", "English",
     "Choose your language:",
     "Language [%d]: ",
     "Please type a number from 1 to %d or a language code.",
     "Connecting to the update server... %d s",
     "%s is installed on this computer already.",
     "Install folder: %s",
     "Enter installs there; type another folder (~ is your home), or b to browse: ",
     "Type the folder to install %s into (~ is your home), or b to browse.",
     "Install folder: ",
     "Please type a full path: one that starts with / or ~.",
     "%s cannot be used: %s.",
     "it is a file",
     "it holds other files, and so does %s",
     "you may not write there (%s)",
     "The folder holds other files: %s goes into a folder of its own, %s.",
     "No folder was chosen.",
     "Installing into %s",
     "Licence agreement",
     "%s is licensed to you, not sold. You may install it and play it for your own use. It comes without "
     "warranty. Its operator's terms of use apply to everything you do in it.",
     "Type a to accept or d to decline: ",
     "Installation declined: nothing was installed.",
     "Error: the list of files could not be fetched (%s).",
     "(r)etry or (q)uit [r]: ",
     "Quitting.",
     "Installing %s...",
     "Updating %s...",
     "Downloading %s",
     "unpacked files",
     "%s is installed on this computer, in %s.",
     "(r)einstall or (p)lay [p]: ",
     "Reinstalling first removes %s and everything in it. Go on?",
     "(y)es or (n)o [n]: ",
     "Please type y or n.",
     "Please type one of the letters in brackets, or Enter for the one in [ ].",
     "Starting %s.",
     "%s is installed in %s. %s starts now.",
     "The installation did not finish (exit code %d).",
     "No terminal to ask on and no unattended switch: the installation is declined.",
     "No install folder was proposed: the installation is declined.",
     "Licence accepted (unattended).",
     "No terminal to ask on and no unattended switch: the licence is declined."},
    {"de", "Deutsch",
     "Waehlen Sie Ihre Sprache:",
     "Sprache [%d]: ",
     "Bitte eine Zahl von 1 bis %d oder ein Sprachkuerzel eingeben.",
     "Verbindung zum Update-Server... %d s",
     "%s ist auf diesem Computer bereits installiert.",
     "Installationsordner: %s",
     "Enter installiert dort; anderen Ordner eingeben (~ ist Ihr Home-Ordner) oder b zum Auswaehlen: ",
     "Geben Sie den Ordner ein, in den %s installiert wird (~ ist Ihr Home-Ordner), oder b zum Auswaehlen.",
     "Installationsordner: ",
     "Bitte einen vollstaendigen Pfad eingeben, der mit / oder ~ beginnt.",
     "%s ist nicht verwendbar: %s.",
     "es ist eine Datei",
     "er enthaelt andere Dateien, und %s ebenso",
     "Sie duerfen dort nicht schreiben (%s)",
     "Der Ordner enthaelt andere Dateien: %s kommt in einen eigenen Ordner, %s.",
     "Es wurde kein Ordner gewaehlt.",
     "Installation nach %s",
     "Lizenzvereinbarung",
     "%s wird Ihnen lizenziert, nicht verkauft. Sie duerfen es fuer sich installieren und spielen. Es gibt "
     "keine Gewaehrleistung. Fuer alles, was Sie darin tun, gelten die Nutzungsbedingungen des Betreibers.",
     "a zum Annehmen oder d zum Ablehnen: ",
     "Installation abgelehnt: es wurde nichts installiert.",
     "Fehler: die Dateiliste konnte nicht geladen werden (%s).",
     "(w)iederholen oder (b)eenden [w]: ",
     "Beenden.",
     "%s wird installiert...",
     "%s wird aktualisiert...",
     "Lade %s",
     "entpackte Dateien",
     "%s ist auf diesem Computer installiert, in %s.",
     "(n)eu installieren oder (s)pielen [s]: ",
     "Die Neuinstallation entfernt zuerst %s mit allem, was darin ist. Fortfahren?",
     "(j)a oder (n)ein [n]: ",
     "Bitte j oder n eingeben.",
     "Bitte einen der Buchstaben in Klammern eingeben, oder Enter fuer den in [ ].",
     "%s wird gestartet.",
     "%s ist in %s installiert. %s startet jetzt.",
     "Die Installation wurde nicht abgeschlossen (Exit-Code %d).",
     "Kein Terminal fuer Fragen und kein Schalter fuer unbeaufsichtigte Installation: die Installation wird abgelehnt.",
     "Es wurde kein Installationsordner vorgeschlagen: die Installation wird abgelehnt.",
     "Lizenz angenommen (unbeaufsichtigt).",
     "Kein Terminal fuer Fragen und kein Schalter fuer unbeaufsichtigte Installation: die Lizenz wird abgelehnt."},
    {"fr", "Francais",
     "Choisissez votre langue :",
     "Langue [%d] : ",
     "Tapez un nombre de 1 a %d ou un code de langue.",
     "Connexion au serveur de mise a jour... %d s",
     "%s est deja installe sur cet ordinateur.",
     "Dossier d'installation : %s",
     "Entree installe ici ; tapez un autre dossier (~ est votre dossier personnel), ou b pour parcourir : ",
     "Tapez le dossier ou installer %s (~ est votre dossier personnel), ou b pour parcourir.",
     "Dossier d'installation : ",
     "Tapez un chemin complet, qui commence par / ou ~.",
     "%s ne peut pas servir : %s.",
     "c'est un fichier",
     "il contient d'autres fichiers, et %s aussi",
     "vous ne pouvez pas y ecrire (%s)",
     "Le dossier contient d'autres fichiers : %s va dans un dossier a lui, %s.",
     "Aucun dossier n'a ete choisi.",
     "Installation dans %s",
     "Contrat de licence",
     "%s vous est concede sous licence, pas vendu. Vous pouvez l'installer et y jouer pour votre propre usage. "
     "Il est fourni sans garantie. Les conditions d'utilisation de son exploitant s'appliquent a tout ce que vous y faites.",
     "Tapez a pour accepter ou d pour refuser : ",
     "Installation refusee : rien n'a ete installe.",
     "Erreur : la liste des fichiers n'a pas pu etre obtenue (%s).",
     "(r)eessayer ou (q)uitter [r] : ",
     "Fin.",
     "Installation de %s...",
     "Mise a jour de %s...",
     "Telechargement de %s",
     "fichiers extraits",
     "%s est installe sur cet ordinateur, dans %s.",
     "(r)einstaller ou (j)ouer [j] : ",
     "La reinstallation supprime d'abord %s et tout ce qu'il contient. Continuer ?",
     "(o)ui ou (n)on [n] : ",
     "Tapez o ou n.",
     "Tapez une des lettres entre parentheses, ou Entree pour celle entre [ ].",
     "Demarrage de %s.",
     "%s est installe dans %s. %s demarre maintenant.",
     "L'installation n'est pas terminee (code de sortie %d).",
     "Pas de terminal pour poser les questions et pas d'installation sans surveillance : l'installation est refusee.",
     "Aucun dossier d'installation n'a ete propose : l'installation est refusee.",
     "Licence acceptee (sans surveillance).",
     "Pas de terminal pour poser les questions et pas d'installation sans surveillance : la licence est refusee."},
    {"es", "Espanol",
     "Elija su idioma:",
     "Idioma [%d]: ",
     "Escriba un numero del 1 al %d o un codigo de idioma.",
     "Conectando con el servidor de actualizaciones... %d s",
     "%s ya esta instalado en este ordenador.",
     "Carpeta de instalacion: %s",
     "Intro instala ahi; escriba otra carpeta (~ es su carpeta personal), o b para examinar: ",
     "Escriba la carpeta donde instalar %s (~ es su carpeta personal), o b para examinar.",
     "Carpeta de instalacion: ",
     "Escriba una ruta completa, que empiece por / o ~.",
     "%s no se puede usar: %s.",
     "es un archivo",
     "contiene otros archivos, y %s tambien",
     "no puede escribir ahi (%s)",
     "La carpeta contiene otros archivos: %s va en una carpeta propia, %s.",
     "No se eligio ninguna carpeta.",
     "Instalando en %s",
     "Contrato de licencia",
     "%s se le concede bajo licencia, no se le vende. Puede instalarlo y jugar para su propio uso. Se ofrece "
     "sin garantia. Las condiciones de uso de su operador se aplican a todo lo que haga en el.",
     "Escriba a para aceptar o d para rechazar: ",
     "Instalacion rechazada: no se instalo nada.",
     "Error: no se pudo obtener la lista de archivos (%s).",
     "(r)eintentar o (s)alir [r]: ",
     "Saliendo.",
     "Instalando %s...",
     "Actualizando %s...",
     "Descargando %s",
     "archivos extraidos",
     "%s esta instalado en este ordenador, en %s.",
     "(r)einstalar o (j)ugar [j]: ",
     "Reinstalar elimina primero %s y todo lo que contiene. Continuar?",
     "(s)i o (n)o [n]: ",
     "Escriba s o n.",
     "Escriba una de las letras entre parentesis, o Intro para la que esta entre [ ].",
     "Iniciando %s.",
     "%s esta instalado en %s. %s se inicia ahora.",
     "La instalacion no termino (codigo de salida %d).",
     "No hay terminal para preguntar ni instalacion desatendida: se rechaza la instalacion.",
     "No se propuso ninguna carpeta de instalacion: se rechaza la instalacion.",
     "Licencia aceptada (desatendida).",
     "No hay terminal para preguntar ni instalacion desatendida: se rechaza la licencia."},
};

}  // namespace

const ConsoleTexts& ConsoleLanguage(int index) {
  return kTexts[index >= 0 && index < kConsoleLanguageCount ? index : 0];
}

int ConsoleLanguageIndex(const std::string& code) {
  for (int i = 0; i < kConsoleLanguageCount; ++i) {
    if (code.size() == 2 && std::tolower(static_cast<unsigned char>(code[0])) == kTexts[i].code[0] &&
        std::tolower(static_cast<unsigned char>(code[1])) == kTexts[i].code[1])
      return i;
  }
  return -1;
}

int ConsoleLanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    // "de_DE.UTF-8", "de": the language is the part before "_", "." or "@".
    std::string code(value);
    code = code.substr(0, code.find_first_of("_.@"));
    const int index = ConsoleLanguageIndex(code);
    return index < 0 ? 0 : index;
  }
  return 0;
}

std::string FormatText(const char* format, ...) {
  char text[4000];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace platform
